#include "host/command_line.h"

#include <cstdlib>
#include <string_view>

namespace orba {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value_of = [&](std::string_view option, std::string& target) {
      if (arg == option) {
        if (i + 1 >= argc) {
          line.error = std::string(option) + " precisa de um valor";
          return true;
        }
        target = argv[++i];
        return true;
      }
      const std::string prefix = std::string(option) + "=";
      if (arg.substr(0, prefix.size()) == prefix) {
        target = std::string(arg.substr(prefix.size()));
        return true;
      }
      return false;
    };
    if (arg == "--headless") {
      line.headless = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--check") {
      line.check = true;
    } else if (value_of("--system-dir", line.system_dir) ||
               value_of("--printer-spool", line.printer_spool)) {
      if (!line.error.empty()) break;
    } else {
      line.error = "opção desconhecida: " + std::string(arg);
      break;
    }
  }
  if (line.system_dir.empty()) line.system_dir = Environment("ORBA_SYSTEM_DIR");
  if (line.printer_spool.empty()) line.printer_spool = Environment("ORBA_PRINTER_SPOOL");
  line.cups_format = Environment("ORBA_CUPS_FORMAT");
  line.cups_code_page = Environment("ORBA_CUPS_CODEPAGE");
  return line;
}

bool DisplayAvailable(const char* (*environment)(const char*)) {
  auto value = [environment](const char* name) {
    const char* text = environment != nullptr ? environment(name) : std::getenv(name);
    return std::string_view(text != nullptr ? text : "");
  };
  const std::string_view platform = value("QT_QPA_PLATFORM");
  if (platform.substr(0, 3) == "xcb") return !value("DISPLAY").empty();
  if (platform.substr(0, 7) == "wayland") return !value("WAYLAND_DISPLAY").empty();
  if (!platform.empty()) return true;
  return !value("DISPLAY").empty() || !value("WAYLAND_DISPLAY").empty();
}

std::string UsageText() {
  return "Uso: orbapda [--headless] [--system-dir DIR] [--printer-spool DIR]\n"
         "       orbapda --check [--system-dir DIR] [--printer-spool DIR]\n"
         "       orbapda --help | --version\n"
         "\n"
         "  --headless           sem janela nem ícone de bandeja; mensagens no stderr e no syslog\n"
         "                       (também sem tela: sem DISPLAY, WAYLAND_DISPLAY ou QT_QPA_PLATFORM)\n"
         "  --system-dir DIR     pasta do ORBA.INI (ORBA_SYSTEM_DIR; padrão /etc/orba/)\n"
         "  --printer-spool DIR  impressoras como subpastas de DIR em vez do CUPS\n"
         "                       (ORBA_PRINTER_SPOOL)\n"
         "  --check              verifica a instalação sem atender pedidos: ORBA.INI, pastas e\n"
         "                       permissões do usuário que executa, banco de dados, dia de\n"
         "                       movimento, impressoras; uma linha OK/ERRO por verificação,\n"
         "                       saída 0 quando tudo está OK, 1 quando não\n";
}

}  // namespace orba
