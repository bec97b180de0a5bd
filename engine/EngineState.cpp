#include "engine/EngineState.h"

#include "qem/Loader.h"

namespace engine {

State state;

namespace {
const qem::Document* installedDocument = nullptr;
}

void ResetState() { state = State{}; }

const qem::Document* CurrentDocument() { return installedDocument ? installedDocument : qem::GetCurrentDocument(); }

std::int32_t CurrentLoadStage() { return installedDocument ? qem::kStageFinished : qem::GetLoadStage(); }

namespace test_seam {
void InstallDocument(const qem::Document* document) { installedDocument = document; }
}  // namespace test_seam

}  // namespace engine
