// orbapda: the handheld ordering gateway of the back-office PC.

#include <QCoreApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "common/operator.h"
#include "host/command_line.h"
#include "host/headless_runner.h"
#include "host/installation_check.h"
#include "host/service.h"
#include "printing/printer_factory.h"

int main(int argc, char** argv) {
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
        orba::CheckInstallation(line.system_dir, orba::MakePrinterSystem(line.printer_spool), std::cout);
    std::cout.flush();
    return passed ? 0 : 1;
  }

  // The window comes later; until then every start is headless, which is also
  // what a machine without a display needs.
  QCoreApplication app(argc, argv);
  // Qt takes the whole locale from the environment; the program itself never
  // depends on it except for the decimal separator shown to people.
  std::setlocale(LC_ALL, "");
  const char decimal_separator = *std::localeconv()->decimal_point;
  std::setlocale(LC_NUMERIC, "C");

  orba::HeadlessOperator op;
  orba::SystemClock clock;
  orba::Service service(op, orba::MakePrinterSystem(line.printer_spool, {line.cups_format, line.cups_code_page}), clock);
  service.parameters().DecimalSeparator = decimal_separator;
  if (!service.Start(line.system_dir)) return 1;
  return orba::RunHeadless(service);
}
