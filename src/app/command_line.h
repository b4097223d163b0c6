// The driver's command line, read alike by both front ends before anything
// else, so that its answers need no display: --help, --version, the front
// end's own options, and the refusal of any other argument.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ovix {

// An option a front end takes besides --help and --version.
struct ExtraOption {
  enum class Value {
    None,      // a flag
    Required,  // the next argument, or "=VALUE" joined to the name
    Optional,  // the next argument unless it begins with '-'
  };
  std::string name;  // as written, e.g. "--stop" or "-platform"
  Value value = Value::None;
  std::string usage;  // its part of the usage line, e.g. "--stop [DIR]"; empty: none
  std::string help;   // its lines in the options list, each ending in a line end
};

// The exit status of a command line with an argument that no option names.
constexpr int kUnknownOptionStatus = 2;

// What the command line asks for: nothing (the program starts; `status` is
// empty), or the end of the program with `status` and the texts for
// standard output and error. The first argument that is --help, --version
// or not an option decides: the help (status 0), the version line (status
// 0), or "ovixnova: optiune necunoscuta: ARG" and the help on standard
// error (kUnknownOptionStatus). The value of an option is skipped.
struct CommandLineAnswer {
  std::optional<int> status;
  std::string out;
  std::string err;
};
CommandLineAnswer ReadCommandLine(const std::vector<std::string>& args,
                                  const std::vector<ExtraOption>& extras,
                                  const std::string& versionLine);

// The help: the usage line, the program's description and each option
// (ASCII Romanian, as a Windows console shows it).
std::string HelpText(const std::vector<ExtraOption>& extras);

// ReadCommandLine over this build's version, with its texts printed: the
// exit status when the program ends here, else nothing. `args` are the
// arguments without the program's name.
std::optional<int> AnswerInformationOption(const std::vector<std::string>& args,
                                           const std::vector<ExtraOption>& extras = {});

}  // namespace ovix
