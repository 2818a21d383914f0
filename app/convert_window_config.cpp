// Pages 2 and 3, the page flow, the stored configuration listing and the column view.
#include "app/convert_window.h"

namespace qm::app {

void TfrmConvert::wireConfigurationPages() {}

}  // namespace qm::app
