#include "app/front_end.h"

namespace {

void noValue(int32_t, int32_t) {}
void noText(int32_t, const char*) {}
void noDesk() {}

}  // namespace

FrontEnd frontEnd = {noValue, noText, noDesk};
