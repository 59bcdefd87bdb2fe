// orbapda: the handheld ordering gateway of the back-office PC.

#include <QApplication>
#include <QCoreApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "common/operator.h"
#include "common/process_memory.h"
#include "host/command_line.h"
#include "host/headless_runner.h"
#include "host/installation_check.h"
#include "host/qt_operator.h"
#include "host/service.h"
#include "host/window_runner.h"
#include "printing/printer_factory.h"

namespace {

// Qt takes the whole locale from the environment; the program itself never
// depends on it except for the decimal separator shown to people.
char TakeDecimalSeparator() {
  std::setlocale(LC_ALL, "");
  const char decimal_separator = *std::localeconv()->decimal_point;
  std::setlocale(LC_NUMERIC, "C");
  return decimal_separator;
}

int Run(const orba::CommandLine& line, orba::Operator& op, orba::QtOperator* window_operator) {
  const char decimal_separator = TakeDecimalSeparator();
  orba::SystemClock clock;
  orba::Service service(op, orba::MakePrinterSystem(line.printer_spool, {line.cups_format, line.cups_code_page}),
                        clock);
  service.parameters().DecimalSeparator = decimal_separator;
  if (window_operator != nullptr) return orba::RunWindowed(service, *window_operator, line.system_dir);
  if (!service.Start(line.system_dir)) return 1;
  return orba::RunHeadless(service);
}

}  // namespace

int main(int argc, char** argv) {
  orba::KeepFreedMemoryForReuse();
  const orba::CommandLine line = orba::ParseCommandLine(argc, argv);
  if (!line.error.empty()) {
    std::fprintf(stderr, "orbapda: %s\n%s", line.error.c_str(), orba::UsageText().c_str());
    return 2;
  }
  if (line.help) {
    std::fputs(orba::UsageText().c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::printf("orbapda %s (%s)\n", ORBA_VERSION, orba::kVersionLabel);
    return 0;
  }
  if (line.check) {
    const bool passed =
        orba::CheckInstallation(
        line.system_dir, orba::MakePrinterSystem(line.printer_spool, {line.cups_format, line.cups_code_page}),
        std::cout);
    std::cout.flush();
    return passed ? 0 : 1;
  }

  // Without a display QApplication would abort the process: such a machine
  // runs headless, as --headless asks for.
  if (!line.headless && orba::DisplayAvailable()) {
    QApplication app(argc, argv);
    orba::QtOperator op;
    return Run(line, op, &op);
  }
  if (!line.headless) {
    std::fputs("orbapda: sem tela disponível (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM): roda sem janela.\n",
               stderr);
  }
  QCoreApplication app(argc, argv);
  orba::HeadlessOperator op;
  return Run(line, op, nullptr);
}
