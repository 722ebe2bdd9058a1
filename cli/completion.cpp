// The completion scripts are written from the command line's own table, so a new command or
// option completes without anyone editing a script. Both shells get the same tables: for each
// command path ("_", "_ config", "_ config set") its subcommands and options, the kind of value
// each option takes, and the kind of each positional argument; one small walker per shell reads
// them.
#include "cli/completion.h"

#include <ostream>
#include <vector>

#include "cli/calibration_types.h"
#include "cli/device_types.h"
#include "cli/exit_status.h"
#include "cli/plot_channels.h"

namespace tessera::cli {

namespace {

constexpr const char kRoot[] = "_";

struct Entry {
  std::string key;
  std::string value;
};

struct Tables {
  std::vector<Entry> commands;     // path -> subcommand names
  std::vector<Entry> options;      // path -> option names
  std::vector<Entry> values;       // "path --option" -> kind of its value
  std::vector<Entry> positionals;  // "path N" -> kind of the Nth positional argument
};

// "MODEL", "FILE", "UINT", … without the validators CLI11 appends.
std::string KindOf(const CLI::Option& option) {
  const std::string name = option.get_type_name();
  return name.substr(0, name.find(':'));
}

std::string Join(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

void Collect(const CLI::App& app, const std::string& path, Tables& tables) {
  std::vector<std::string> subcommands, options;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    subcommands.push_back(sub->get_name());
    Collect(*sub, path + " " + sub->get_name(), tables);
  }
  int positional = 0;
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_positional() && !option->nonpositional()) {
      tables.positionals.push_back({path + " " + std::to_string(positional++), KindOf(*option)});
      continue;
    }
    // Every command has --help; the top level's list offers it once.
    if (path != kRoot && option == app.get_help_ptr()) continue;
    std::vector<std::string> names;
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    for (const std::string& name : option->get_snames()) names.push_back("-" + name);
    for (const std::string& name : names) {
      options.push_back(name);
      if (option->get_type_size() != 0) tables.values.push_back({path + " " + name, KindOf(*option)});
    }
  }
  if (!subcommands.empty()) tables.commands.push_back({path, Join(subcommands)});
  tables.options.push_back({path, Join(options)});
}

std::vector<std::string> ChannelNames() {
  std::vector<std::string> names = {"all"};
  for (const PlotChannel& channel : PlotChannels()) names.push_back(channel.name);
  return names;
}

std::vector<std::string> CalibrationNames() {
  std::vector<std::string> names;
  for (const CalibrationType& type : CalibrationTypes()) names.push_back(type.name);
  return names;
}

void WriteBashCase(std::ostream& out, const char* function, const char* subject,
                   const std::vector<Entry>& entries) {
  out << function << "() {\n  case \"" << subject << "\" in\n";
  for (const Entry& entry : entries)
    out << "    \"" << entry.key << "\") echo \"" << entry.value << "\" ;;\n";
  out << "  esac\n}\n";
}

void WriteBash(std::ostream& out, const Tables& tables) {
  out << "# bash completion for tessera-diag, written by `tessera-diag completion bash`\n";
  WriteBashCase(out, "_tessera_diag_commands", "$1", tables.commands);
  WriteBashCase(out, "_tessera_diag_options", "$1", tables.options);
  WriteBashCase(out, "_tessera_diag_value", "$1 $2", tables.values);
  WriteBashCase(out, "_tessera_diag_positional", "$1 $2", tables.positionals);
  out << "_tessera_diag_candidates() {\n"
         "  case \"$1\" in\n"
         "    MODEL) compgen -W \"" << Join(KnownModels()) << "\" -- \"$2\" ;;\n"
         "    TYPE) compgen -W \"" << Join(CalibrationNames()) << "\" -- \"$2\" ;;\n"
         "    SHELL) compgen -W \"bash zsh\" -- \"$2\" ;;\n"
         "    CHANNELS)\n"
         "      local head=\"\"\n"
         "      [[ \"$2\" == *,* ]] && head=\"${2%,*},\"\n"
         "      compgen -W \"" << Join(ChannelNames()) << "\" -P \"$head\" -- \"${2##*,}\" ;;\n"
         "    FILE) compopt -o filenames 2>/dev/null; compgen -f -- \"$2\" ;;\n"
         "    DIR) compopt -o filenames 2>/dev/null; compgen -d -- \"$2\" ;;\n"
         "  esac\n"
         "}\n"
         "_tessera_diag() {\n"
         "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" path=" << kRoot << " kind=\"\" n=0 i w taken=no\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    w=\"${COMP_WORDS[i]}\"\n"
         "    if [ \"$taken\" = yes ]; then taken=no; continue; fi\n"
         "    case \"$w\" in\n"
         "      -*=*) ;;\n"
         "      -*)\n"
         "        kind=\"$(_tessera_diag_value \"$path\" \"$w\")\"\n"
         "        [ -z \"$kind\" ] && kind=\"$(_tessera_diag_value " << kRoot << " \"$w\")\"\n"
         "        [ -n \"$kind\" ] && taken=yes ;;\n"
         "      *)\n"
         "        if [ \"$n\" -eq 0 ] && [[ \" $(_tessera_diag_commands \"$path\") \" == *\" $w \"* ]]; then\n"
         "          path=\"$path $w\"\n"
         "        else\n"
         "          n=$((n + 1))\n"
         "        fi ;;\n"
         "    esac\n"
         "  done\n"
         "  if [ \"$taken\" = no ]; then\n"
         "    if [[ \"$cur\" == -* ]]; then\n"
         "      mapfile -t COMPREPLY < <(compgen -W \"$(_tessera_diag_options \"$path\") "
         "$(_tessera_diag_options " << kRoot << ")\" -- \"$cur\")\n"
         "      return\n"
         "    fi\n"
         "    local subcommands=\"$(_tessera_diag_commands \"$path\")\"\n"
         "    if [ \"$n\" -eq 0 ] && [ -n \"$subcommands\" ]; then\n"
         "      mapfile -t COMPREPLY < <(compgen -W \"$subcommands\" -- \"$cur\")\n"
         "      return\n"
         "    fi\n"
         "    kind=\"$(_tessera_diag_positional \"$path\" \"$n\")\"\n"
         "  fi\n"
         "  mapfile -t COMPREPLY < <(_tessera_diag_candidates \"$kind\" \"$cur\")\n"
         "}\n"
         "complete -F _tessera_diag tessera-diag\n";
}

void WriteZshTable(std::ostream& out, const char* name, const std::vector<Entry>& entries) {
  out << "  " << name << "=(\n";
  for (const Entry& entry : entries) out << "    '" << entry.key << "' '" << entry.value << "'\n";
  out << "  )\n";
}

void WriteZsh(std::ostream& out, const Tables& tables) {
  out << "#compdef tessera-diag\n"
         "# zsh completion for tessera-diag, written by `tessera-diag completion zsh`\n"
         "_tessera-diag() {\n"
         "  local -A commands options values positionals\n";
  WriteZshTable(out, "commands", tables.commands);
  WriteZshTable(out, "options", tables.options);
  WriteZshTable(out, "values", tables.values);
  WriteZshTable(out, "positionals", tables.positionals);
  out << "  local path_=" << kRoot << " kind='' n=0 i w taken=no\n"
         "  for (( i = 2; i < CURRENT; i++ )); do\n"
         "    w=${words[i]}\n"
         "    if [[ $taken == yes ]]; then taken=no; continue; fi\n"
         "    case $w in\n"
         "      -*=*) ;;\n"
         "      -*)\n"
         "        kind=${values[$path_ $w]:-${values[" << kRoot << " $w]}}\n"
         "        [[ -n $kind ]] && taken=yes ;;\n"
         "      *)\n"
         "        if (( n == 0 )) && (( ${${=commands[$path_]}[(Ie)$w]} )); then\n"
         "          path_=\"$path_ $w\"\n"
         "        else\n"
         "          (( n += 1 ))\n"
         "        fi ;;\n"
         "    esac\n"
         "  done\n"
         "  local cur=${words[CURRENT]}\n"
         "  if [[ $taken == no ]]; then\n"
         "    if [[ $cur == -* ]]; then\n"
         "      compadd -- ${=options[$path_]} ${=options[" << kRoot << "]}\n"
         "      return\n"
         "    fi\n"
         "    if (( n == 0 )) && [[ -n ${commands[$path_]} ]]; then\n"
         "      compadd -- ${=commands[$path_]}\n"
         "      return\n"
         "    fi\n"
         "    kind=${positionals[$path_ $n]}\n"
         "  fi\n"
         "  case $kind in\n"
         "    MODEL) compadd -- " << Join(KnownModels()) << " ;;\n"
         "    TYPE) compadd -- " << Join(CalibrationNames()) << " ;;\n"
         "    SHELL) compadd -- bash zsh ;;\n"
         "    CHANNELS)\n"
         "      if [[ $cur == *,* ]]; then\n"
         "        compadd -P \"${cur%,*},\" -- " << Join(ChannelNames()) << "\n"
         "      else\n"
         "        compadd -- " << Join(ChannelNames()) << "\n"
         "      fi ;;\n"
         "    FILE) _files ;;\n"
         "    DIR) _files -/ ;;\n"
         "  esac\n"
         "}\n"
         "_tessera-diag \"$@\"\n";
}

}  // namespace

int PrintCompletionScript(std::ostream& out, const CLI::App& app, const std::string& shell) {
  Tables tables;
  Collect(app, kRoot, tables);
  if (shell == "zsh")
    WriteZsh(out, tables);
  else
    WriteBash(out, tables);
  return kExitOk;
}

}  // namespace tessera::cli
