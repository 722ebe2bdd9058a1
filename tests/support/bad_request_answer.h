#pragma once
// The "Invalid HTTP Header" answer, written out by hand from the protocol rules: tests compare
// the server's bytes with it.
#include <string>

namespace tessera_test {

inline const std::string kBadRequestBody =
    R"({"GeneralReturn":{"Action":"","Device":"","Error":-127,"ErrorMessage":"Invalid HTTP Header","ID":""}})";

}  // namespace tessera_test
