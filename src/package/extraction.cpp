#include "package/extraction.h"

namespace floppyset {

ExtractionResult ExtractPackageImages(RunState&, Host&, Ui&) {
  return {};
}

}  // namespace floppyset
