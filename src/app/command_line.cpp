#include "app/command_line.h"

namespace ovix {
namespace {

constexpr char kDescription[] =
    "Driver de tiparire pentru o casa de marcat fiscala legata la un port\n"
    "serial. Sta in zona de notificare, ia fisierele de bon pe care programul\n"
    "de vinzare le scrie in directorul de lucru (BONDIR), le tipareste la casa\n"
    "de marcat si le muta in directorul OK (OKDIR) sau in cel de erori\n"
    "(ERRDIR), scriind ce face in LOG.OVX din directorul de lucru. Setarile le\n"
    "citeste din OVIX.INI, din directorul programului, de linga executabil.\n";

constexpr char kOptions[] =
    "  --help     afiseaza acest ajutor si iese\n"
    "  --version  afiseaza versiunea si iese\n";

// The option `arg` names, and whether its value is joined to it ("-style=x").
const ExtraOption* Find(const std::string& arg, const std::vector<ExtraOption>& extras,
                        bool* joined) {
  for (const ExtraOption& option : extras) {
    *joined = option.value == ExtraOption::Value::Required && arg.rfind(option.name + "=", 0) == 0;
    if (arg == option.name || *joined) return &option;
  }
  return nullptr;
}

}  // namespace

std::string HelpText(const std::vector<ExtraOption>& extras) {
  std::string usage = "Utilizare: ovixnova [--help | --version";
  std::string options = kOptions;
  for (const ExtraOption& option : extras) {
    if (!option.usage.empty()) usage += " | " + option.usage;
    options += option.help;
  }
  return usage + "]\n\n" + kDescription + "\nOptiuni:\n" + options +
         "\nFara optiuni porneste driverul. Un argument care nu este o optiune de\n"
         "mai sus este refuzat, cu starea de iesire " +
         std::to_string(kUnknownOptionStatus) + ".\n";
}

CommandLineAnswer ReadCommandLine(const std::vector<std::string>& args,
                                  const std::vector<ExtraOption>& extras,
                                  const std::string& versionLine) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") return {0, HelpText(extras), ""};
    if (arg == "--version") return {0, versionLine, ""};
    bool joined = false;
    const ExtraOption* option = Find(arg, extras, &joined);
    if (option == nullptr) {
      return {kUnknownOptionStatus, "",
              "ovixnova: optiune necunoscuta: " + arg + "\n\n" + HelpText(extras)};
    }
    const bool next = i + 1 < args.size();
    if ((option->value == ExtraOption::Value::Required && !joined && next) ||
        (option->value == ExtraOption::Value::Optional && next && args[i + 1].rfind('-', 0) != 0))
      ++i;
  }
  return {};
}

}  // namespace ovix
