// The build of the price file from page 4.
#include "app/convert_window.h"

namespace qm::app {

void TfrmConvert::wireBuild() {}

}  // namespace qm::app
