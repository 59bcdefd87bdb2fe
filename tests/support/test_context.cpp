#include "support/test_context.h"

#include <filesystem>

namespace orba::test {

TestContext::TestContext(const TestContextOptions& options)
    : db(options.demo), clock(options.now), printers(options.printers, options.default_printer) {
  parameters.SystemFolder = folder.prefix();
  parameters.BaseFolder = folder.prefix();
  parameters.RequestFolder = parameters.BaseFolder + "xml/Enviar";
  parameters.AnswerFolder = parameters.BaseFolder + "xml/Receber";
  parameters.BusinessDay = "08/12/2026";
  parameters.id_etb_orba = 1;
  parameters.id_emp_orba = 1;
  parameters.sg_fil = "CENTRO";
  for (const char* sub : {"xml/Enviar", "xml/Receber", "xml/Fixos"}) std::filesystem::create_directories(folder.path() / sub);
  WriteConfiguration();
}

void TestContext::WriteConfiguration(const std::string& children) const {
  WriteFile(folder.path() / "ORBA.INI", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<RO><BASE SR=\"" +
                                            folder.prefix() + "\"/>" + children + "</RO>\n");
}

}  // namespace orba::test
