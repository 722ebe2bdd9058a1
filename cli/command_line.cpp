#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>

#include "cli/calibration_types.h"
#include "cli/commands.h"
#include "cli/completion.h"
#include "cli/exit_status.h"
#include "cli/plot_channels.h"
#include "cli/report.h"
#include "cli/server_address.h"
#include "cli/upload_file_name.h"

namespace tessera::cli {

namespace {

constexpr const char* kFooter =
    "MODEL is a model as `list` shows it, in any case, with '-' for a space (kestrel-kx).\n"
    "TESSERA_HOST and TESSERA_PORT stand in for --host and --port.\n"
    "Exit status: 0 success; 1 the server answered with an error; 2 usage error;\n"
    "3 no usable answer from the server; 130 interrupted (Ctrl-C).";

// A custom name as the listing shows it: the device's name field holds 63 bytes.
constexpr size_t kMaxNameBytes = 63;
constexpr double kMinTimeoutSeconds = 0.1;
constexpr double kMaxTimeoutSeconds = 3600;

using Command = std::function<int()>;

struct DeviceArgs {
  std::string model;
  unsigned id = 0;
  DeviceAddress address() const { return {NormalizeModel(model), id}; }
};

// Each subcommand's arguments live as long as the parse; the chosen command reads them later.
struct Arguments {
  GlobalOptions global;
  std::string host = "localhost";
  DeviceArgs device;
  ListOptions list;
  unsigned number = 0;
  std::string text;
  FileChoice file;
  bool force = false;
  bool yes = false;
  bool byId = false;
  PlotOptions plot;
  DriveOptions drive;
};

CLI::App* DeviceCommand(CLI::App& parent, const char* name, const char* help, Arguments& args) {
  CLI::App* command = parent.add_subcommand(name, help);
  command->add_option("MODEL", args.device.model, "device model, e.g. kestrel-kx")
      ->required()
      ->type_name("MODEL");
  command->add_option("ID", args.device.id, "device number")
      ->required()
      ->check(CLI::Range(0u, kMaxDeviceNumber));
  return command;
}

// Run by the one device request `action`; `extra` adds its parameters when it runs.
void AddDeviceRequest(CLI::App* command, Arguments& args, Command& chosen, const char* action,
                      std::function<QueryParams()> extra, std::function<std::string()> done) {
  command->callback([&args, &chosen, command, action, extra, done] {
    chosen = [&args, command, action, extra, done] {
      return RunDeviceRequest(
          args.global, {command->get_name(), args.device.address(), action, extra(), done()});
    };
  });
}

std::string NameCarriable(const std::string& name) {
  // The server decodes the whole query before splitting it, so these would split the name.
  if (name.find_first_of("&=") != std::string::npos) return "a name cannot hold '&' or '='";
  if (name.size() > kMaxNameBytes)
    return "a name holds at most " + std::to_string(kMaxNameBytes) + " bytes; this one has " +
           std::to_string(name.size());
  return "";
}

std::string TimeoutInRange(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(seconds >= kMinTimeoutSeconds) ||
      seconds > kMaxTimeoutSeconds)
    return "give the seconds to wait for each answer, from 0.1 to 3600";
  return "";
}

void AddGlobalOptions(CLI::App& app, Arguments& args) {
  app.add_option("--host", args.host, "server host, HOST or HOST:PORT ([::1]:1250 for IPv6)")
      ->capture_default_str()
      ->envname("TESSERA_HOST");
  app.add_option("--port", args.global.server.port, "server TCP port")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535))
      ->envname("TESSERA_PORT");
  app.add_flag("--json", args.global.json, "print the server's answers as they are");
  app.add_option("--timeout", args.global.timeoutSeconds,
                 "seconds to wait for each answer, 0.1 to 3600")
      ->capture_default_str()
      ->check(TimeoutInRange);
  app.set_version_flag("--version", std::string("tessera-diag ") + TESSERA_CLI_VERSION);
}

void AddFileChoice(CLI::App* command, FileChoice& file, const char* what) {
  CLI::Option* local =
      command->add_option("FILE", file.localPath, std::string("local ") + what + " to upload")
          ->check(CLI::ExistingFile)
          ->type_name("FILE");
  command
      ->add_option("--server-file", file.serverFile,
                   std::string("a ") + what + " already in the server's search directory")
      ->check(UploadFileNameProblem)
      ->type_name("NAME")
      ->excludes(local);
}

// The chosen command of `command`, once it is known that exactly one file was given.
void ChooseWithOneFile(CLI::App* command, Command& chosen, Command run) {
  command->callback([command, &chosen, run] {
    if (command->count("FILE") + command->count("--server-file") == 0)
      throw CLI::RequiredError("FILE or --server-file NAME");
    chosen = run;
  });
}

void AddDeviceCommands(CLI::App& app, Arguments& args, Command& chosen) {
  const auto none = [] { return QueryParams{}; };
  AddDeviceRequest(DeviceCommand(app, "blink", "blink the device's LED", args), args, chosen,
                   "blink", none, [] { return std::string("LED blinking"); });
  CLI::App* setId = DeviceCommand(app, "set-id", "give the device a new device number", args);
  setId->add_option("NEW", args.number, "new device number")
      ->required()
      ->check(CLI::Range(0u, kMaxDeviceNumber));
  setId->add_flag("--force", args.force,
                  "move it even onto a number a device of the same type holds");
  setId->callback([&] {
    chosen = [&] { return RunSetId(args.global, args.device.address(), args.number, args.force); };
  });
  CLI::App* setName = DeviceCommand(app, "set-name", "give the device a custom name", args);
  setName->add_option("NAME", args.text, "new name, at most 63 bytes")->required()->check(NameCarriable);
  AddDeviceRequest(
      setName, args, chosen, "setname",
      [&args] {
        return QueryParams{{"newname", args.text}};
      },
      [&args] { return "name set to \"" + args.text + "\""; });
  CLI::App* defaults = DeviceCommand(app, "defaults", "restore the factory defaults", args);
  defaults->add_flag("-y,--yes", args.yes, "do not ask first");
  defaults->callback([&] {
    chosen = [&] { return RunDefaults(args.global, args.device.address(), args.yes); };
  });
  CLI::App* calibrate =
      DeviceCommand(app, "calibrate", "start a calibration of an IMU (Wren)", args);
  calibrate->add_option("TYPE", args.text, "calibration: " + CalibrationTypeList())
      ->required()
      ->type_name("TYPE")
      ->check([](const std::string& typed) {
        return FindCalibrationType(typed) ? std::string()
                                          : "unknown calibration; use one of " + CalibrationTypeList();
      });
  AddDeviceRequest(
      calibrate, args, chosen, "entercal",
      [&args] {
        return QueryParams{{"caltype", std::to_string(FindCalibrationType(args.text)->number)}};
      },
      [&args] { return std::string(FindCalibrationType(args.text)->name) + " calibration started"; });
  DeviceCommand(app, "selftest", "print the device's self-test report", args)->callback([&] {
    chosen = [&] { return RunSelfTest(args.global, args.device.address()); };
  });
}

void AddUpgradeCommands(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* upgrade = DeviceCommand(app, "upgrade", "write a firmware (BFL) file", args);
  AddFileChoice(upgrade, args.file, "firmware file");
  ChooseWithOneFile(upgrade, chosen,
                    [&] { return RunUpgrade(args.global, args.device.address(), args.file); });
  DeviceCommand(app, "progress", "follow a firmware upgrade that runs on the server", args)
      ->callback([&] { chosen = [&] { return RunProgress(args.global, args.device.address()); }; });
}

void AddConfigCommands(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* config =
      app.add_subcommand("config", "read, write, back up and restore configurations");
  config->require_subcommand(1);
  CLI::App* get = DeviceCommand(*config, "get", "print or save the device's configuration", args);
  get->add_option("-o,--output", args.text, "write it to this file")->type_name("FILE");
  get->callback([&] {
    chosen = [&] { return RunConfigGet(args.global, args.device.address(), args.text); };
  });
  CLI::App* set = DeviceCommand(*config, "set", "write a configuration document", args);
  AddFileChoice(set, args.file, "configuration document or backup file");
  ChooseWithOneFile(set, chosen,
                    [&] { return RunConfigSet(args.global, args.device.address(), args.file); });
  config->add_subcommand("backup", "save every configuration-capable device's configuration")
      ->callback([&] { chosen = [&] { return RunConfigBackup(args.global, args.text); }; })
      ->add_option("DIR", args.text, "folder for the files")
      ->required()
      ->type_name("DIR");
  CLI::App* restore =
      config->add_subcommand("restore", "write back every configuration saved by backup");
  restore->add_option("DIR", args.text, "folder of the files")
      ->required()
      ->check(CLI::ExistingDirectory)
      ->type_name("DIR");
  restore->add_flag("--by-id", args.byId,
                    "restore a file whose device (by serial number) is not listed to the device "
                    "of its model and number");
  restore->callback(
      [&] { chosen = [&] { return RunConfigRestore(args.global, args.text, args.byId); }; });
}

void AddLiveCommands(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* plot = DeviceCommand(app, "plot", "print live signals of a motor controller", args);
  plot->add_option("--channels", args.text,
                   "channel names or a mask, e.g. MotorOutput,SensorVel or 0x3FF or all: " +
                       PlotChannelList())
      ->required()
      ->type_name("CHANNELS")
      ->check([](const std::string& typed) {
        return ParseChannels(typed) ? std::string()
                                    : "\"" + typed + "\": use channel names, a mask or all";
      });
  plot->add_option("--duration", args.plot.durationSeconds, "seconds, 0 until Ctrl-C")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  plot->add_option("--csv", args.plot.csvPath, "write CSV to this file ('-': standard output)")
      ->type_name("FILE");
  plot->callback([&] {
    chosen = [&] {
      args.plot.device = args.device.address();
      args.plot.channels = *ParseChannels(args.text);
      return RunPlot(args.global, args.plot);
    };
  });
  CLI::App* drive = DeviceCommand(app, "drive", "run a motor controller at a fixed output", args);
  drive->add_option("--percent", args.drive.percent, "output, -100 to 100")
      ->required()
      ->check(CLI::Range(-100.0, 100.0));
  drive->add_option("--duration", args.drive.durationSeconds, "seconds")
      ->required()
      ->check(CLI::PositiveNumber);
  drive->callback([&] {
    chosen = [&] {
      args.drive.device = args.device.address();
      return RunDrive(args.global, args.drive);
    };
  });
}

void AddOtherCommands(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* list = app.add_subcommand("list", "list the devices on the bus");
  list->add_option("--wait", args.list.waitSeconds, "wait up to S seconds for the list to settle")
      ->check(CLI::NonNegativeNumber);
  list->add_flag("--watch", args.list.watch, "show the list again whenever it changes, until Ctrl-C");
  list->add_flag("--wide", args.list.wide, "also the serial number, vendor and manufacturing date");
  list->callback([&] { chosen = [&] { return RunList(args.global, args.list); }; });
  app.add_subcommand("version", "print this program's and the server's version")->callback([&] {
    chosen = [&] { return RunVersion(args.global); };
  });
  CLI::App* completion =
      app.add_subcommand("completion", "print the bash or zsh completion script");
  completion->add_option("SHELL", args.text, "bash or zsh")
      ->required()
      ->type_name("SHELL")
      ->check(CLI::IsMember({"bash", "zsh"}));
  completion->callback([&app, &args, &chosen] {
    chosen = [&app, &args] { return PrintCompletionScript(std::cout, app, args.text); };
  });
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  Arguments args;
  Command chosen;
  CLI::App app{"Talks to a running tessera-diag-server.", "tessera-diag"};
  app.footer(kFooter);
  // At most one: an unknown word is then reported as such, not as a missing command.
  app.require_subcommand(0, 1);
  app.fallthrough();
  AddGlobalOptions(app, args);
  AddOtherCommands(app, args, chosen);
  AddDeviceCommands(app, args, chosen);
  AddUpgradeCommands(app, args, chosen);
  AddConfigCommands(app, args, chosen);
  AddLiveCommands(app, args, chosen);
  try {
    app.parse(argc, argv);
    std::string error;
    if (!ParseServerAddress(args.host, args.global.server, error))
      throw CLI::ValidationError("--host", error);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitOk : kExitUsage;
  }
  if (!chosen) {
    std::cerr << app.help() << "\na command is required\n";
    return kExitUsage;
  }
  try {
    return chosen();
  } catch (const TransportError& e) {
    return ReportTransportError(std::cerr, e);
  } catch (const std::exception& e) {
    return ReportTransportError(std::cerr,
                                TransportError(std::string("unexpected answer: ") + e.what()));
  }
}

}  // namespace tessera::cli
