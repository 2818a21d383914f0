// Page 4's vendor group and the vendor panel.
#include "app/convert_window.h"

namespace qm::app {

void TfrmConvert::wireVendorPage() {}

}  // namespace qm::app
