#include "app/front_end.h"

namespace {

void noStatusValue(int32_t, int32_t) {}
void noStatusText(int32_t, const char*) {}
void noDeskChange() {}
void noFilesProgress(int32_t) {}

}  // namespace

// Calls made before a front end sets its own (while the settings load, say)
// are safe and show nothing.
FrontEnd frontEnd = {noStatusValue, noStatusText, noDeskChange, noFilesProgress};
