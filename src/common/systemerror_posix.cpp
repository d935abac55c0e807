#include <system_error>

#include "common/systemerror.h"

namespace quillon {

std::string SystemErrorText(int error) {
    return std::system_category().message(error);
}

}  // namespace quillon
