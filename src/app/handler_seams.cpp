#include "app/handler_seams.h"

namespace corvanta {

void HandleFileDrop(AppState&, const std::vector<std::string>&) {}
void ChooseOutputFolder(AppState&) {}
void RequestStop(AppState&) {}
bool WorkerAlive(const AppState&) {
    return false;
}

}  // namespace corvanta
