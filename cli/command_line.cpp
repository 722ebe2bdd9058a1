#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/report.h"

namespace tessera::cli {

namespace {

constexpr const char* kFooter =
    "MODEL is a model as `list` shows it, in any case, with '-' for a space (kestrel-kx).\n"
    "Exit status: 0 success; 1 the server answered with an error; 2 usage error;\n"
    "3 no usable answer from the server.";

using Command = std::function<int()>;

struct DeviceArgs {
  std::string model;
  unsigned id = 0;
  DeviceAddress address() const { return {NormalizeModel(model), id}; }
};

// Each subcommand's arguments live as long as the parse; the chosen command reads them later.
struct Arguments {
  GlobalOptions global;
  DeviceArgs device;
  double waitSeconds = 0;
  unsigned number = 0;
  std::string text;
  PlotOptions plot;
  DriveOptions drive;
};

CLI::App* DeviceCommand(CLI::App& parent, const char* name, const char* help, Arguments& args) {
  CLI::App* command = parent.add_subcommand(name, help);
  command->add_option("MODEL", args.device.model, "device model, e.g. kestrel-kx")->required();
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
  return name.find_first_of("&=") == std::string::npos ? "" : "a name cannot hold '&' or '='";
}

void AddGlobalOptions(CLI::App& app, GlobalOptions& global) {
  app.add_option("--host", global.server.host, "server host")->capture_default_str();
  app.add_option("--port", global.server.port, "server TCP port")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535));
  app.add_flag("--json", global.json, "print the server's answer as it is");
  app.add_option("--timeout", global.timeoutSeconds, "seconds to wait for each answer")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
}

void AddDeviceCommands(CLI::App& app, Arguments& args, Command& chosen) {
  const auto none = [] { return QueryParams{}; };
  AddDeviceRequest(DeviceCommand(app, "blink", "blink the device's LED", args), args, chosen,
                   "blink", none, [] { return std::string("LED blinking"); });
  CLI::App* setId = DeviceCommand(app, "set-id", "give the device a new device number", args);
  setId->add_option("NEW", args.number, "new device number")
      ->required()
      ->check(CLI::Range(0u, kMaxDeviceNumber));
  AddDeviceRequest(
      setId, args, chosen, "setid",
      [&args] {
        return QueryParams{{"newid", std::to_string(args.number)}};
      },
      [&args] { return "device number set to " + std::to_string(args.number); });
  CLI::App* setName = DeviceCommand(app, "set-name", "give the device a custom name", args);
  setName->add_option("NAME", args.text, "new name")->required()->check(NameCarriable);
  AddDeviceRequest(
      setName, args, chosen, "setname",
      [&args] {
        return QueryParams{{"newname", args.text}};
      },
      [&args] { return "name set to \"" + args.text + "\""; });
  AddDeviceRequest(DeviceCommand(app, "defaults", "restore the factory defaults", args), args,
                   chosen, "factorydef", none,
                   [] { return std::string("factory defaults restored"); });
  CLI::App* calibrate = DeviceCommand(app, "calibrate", "start a calibration", args);
  calibrate->add_option("TYPE", args.number, "calibration type")->required();
  AddDeviceRequest(
      calibrate, args, chosen, "entercal",
      [&args] {
        return QueryParams{{"caltype", std::to_string(args.number)}};
      },
      [&args] { return "calibration " + std::to_string(args.number) + " started"; });
  DeviceCommand(app, "selftest", "print the device's self-test report", args)->callback([&] {
    chosen = [&] { return RunSelfTest(args.global, args.device.address()); };
  });
}

void AddUpgradeCommand(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* upgrade = DeviceCommand(app, "upgrade", "write a firmware (BFL) file", args);
  upgrade->add_option("FILE", args.text, "firmware file")->required()->check(CLI::ExistingFile);
  upgrade->callback(
      [&] { chosen = [&] { return RunUpgrade(args.global, args.device.address(), args.text); }; });
}

void AddConfigCommands(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* config =
      app.add_subcommand("config", "read, write, back up and restore configurations");
  config->require_subcommand(1);
  CLI::App* get = DeviceCommand(*config, "get", "print or save the device's configuration", args);
  get->add_option("-o,--output", args.text, "write it to this file");
  get->callback([&] {
    chosen = [&] { return RunConfigGet(args.global, args.device.address(), args.text); };
  });
  CLI::App* set = DeviceCommand(*config, "set", "write a configuration document", args);
  set->add_option("FILE", args.text, "configuration document")
      ->required()
      ->check(CLI::ExistingFile);
  set->callback([&] {
    chosen = [&] { return RunConfigSet(args.global, args.device.address(), args.text); };
  });
  config->add_subcommand("backup", "save every configuration-capable device's configuration")
      ->callback([&] { chosen = [&] { return RunConfigBackup(args.global, args.text); }; })
      ->add_option("DIR", args.text, "folder for the files")
      ->required();
  config->add_subcommand("restore", "write back every configuration saved by backup")
      ->callback([&] { chosen = [&] { return RunConfigRestore(args.global, args.text); }; })
      ->add_option("DIR", args.text, "folder of the files")
      ->required()
      ->check(CLI::ExistingDirectory);
}

void AddLiveCommands(CLI::App& app, Arguments& args, Command& chosen) {
  CLI::App* plot = DeviceCommand(app, "plot", "print live signals of a motor controller", args);
  plot->add_option("--channels", args.plot.channels, "channel mask, e.g. 1 or 0x3FF")
      ->required()
      ->check(CLI::NonNegativeNumber);
  plot->add_option("--duration", args.plot.durationSeconds, "seconds, 0 until Ctrl-C")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  plot->add_option("--csv", args.plot.csvPath, "write CSV to this file ('-': standard output)");
  plot->callback([&] {
    chosen = [&] {
      args.plot.device = args.device.address();
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

}  // namespace

int RunCommandLine(int argc, char** argv) {
  Arguments args;
  Command chosen;
  CLI::App app{"Talks to a running tessera-diag-server.", "tessera-diag"};
  app.footer(kFooter);
  // At most one: an unknown word is then reported as such, not as a missing command.
  app.require_subcommand(0, 1);
  app.fallthrough();
  AddGlobalOptions(app, args.global);
  CLI::App* list = app.add_subcommand("list", "list the devices on the bus");
  list->add_option("--wait", args.waitSeconds, "wait up to S seconds for the list to settle")
      ->check(CLI::NonNegativeNumber);
  list->callback([&] { chosen = [&] { return RunList(args.global, args.waitSeconds); }; });
  AddDeviceCommands(app, args, chosen);
  AddUpgradeCommand(app, args, chosen);
  AddConfigCommands(app, args, chosen);
  AddLiveCommands(app, args, chosen);
  app.add_subcommand("version", "print this program's and the server's version")->callback([&] {
    chosen = [&] { return RunVersion(args.global); };
  });
  try {
    app.parse(argc, argv);
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
