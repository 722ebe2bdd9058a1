#pragma once
// bash and zsh completion for tessera-diag, written from its command line (CLI11 has no
// generator of its own).
#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>

namespace tessera::cli {

// The script for `shell` ("bash" or "zsh"); returns kExitOk.
int PrintCompletionScript(std::ostream& out, const CLI::App& app, const std::string& shell);

}  // namespace tessera::cli
