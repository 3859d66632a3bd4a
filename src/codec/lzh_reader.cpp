#include "codec/lzh_reader.h"

namespace floppyset {

struct LzhReader::State {
  std::string name;
};

LzhReader::LzhReader(Host&, const std::string&, const std::string&, LzhProgressFn, void*)
    : state_(std::make_unique<State>()) {}
LzhReader::~LzhReader() = default;
int LzhReader::ExtractAll() {
  return kLzhCannotOpenArchive;
}
const std::string& LzhReader::CurrentMemberName() const {
  return state_->name;
}

}  // namespace floppyset
