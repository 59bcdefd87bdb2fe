#include "orders/datahora.h"



#include "common/general_parameters.h"
#include "common/operator.h"
#include "common/safe_file.h"
#include "common/text.h"

namespace orba {

namespace {

constexpr std::string_view kWriteFailed = "Erro para montar arquivo de DataHora.     ";
constexpr std::string_view kWriteFailedTitle = "ORBA ";

bool KeptInFileName(unsigned char c) {
  if (c >= 0x80) return true;  // bytes of accented letters
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return c == ' ' || c == '-' || c == '_';
}

// The stamp as an attribute value between double quotes.
std::string EscapeAttribute(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          // Line breaks and tabs would read back as blanks, other control
          // characters cannot stand in the text at all.
          out += "&#" + std::to_string(c) + ";";
        } else {
          out += ch;
        }
    }
  }
  return out;
}

}  // namespace

std::string DataHoraFileKey(std::string_view table) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string key;
  key.reserve(table.size());
  for (const char ch : table) {
    const auto c = static_cast<unsigned char>(ch);
    if (KeptInFileName(c)) {
      key += ch;
    } else {
      key += '%';
      key += kHex[c >> 4];
      key += kHex[c & 0x0f];
    }
  }
  return key;
}

std::string DataHoraFilePath(const GeneralParameters& parameters, std::string_view table) {
  return parameters.FixedFolder() + "/DataHora_" + DataHoraFileKey(table) + ".xml";
}

bool WriteDataHoraFile(const GeneralParameters& parameters, Operator& op, std::string_view table,
                       std::string_view stamp) {
  const std::string content = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n"
                              "<Data_Hora>\r\n"
                              "  <Header datahora=\"" + Utf8ToLatin1(EscapeAttribute(stamp)) +
                              "\" versao=\"1.0\"/>\r\n"
                              "</Data_Hora>\r\n";
  // Written under a fresh name and renamed over the old file in one step, so
  // a reader finds either the old stamp or the new one, never no file, and a
  // link planted in the folder is never followed.
  if (WriteFileSafely(parameters.FixedFolder(), "DataHora_" + DataHoraFileKey(table) + ".xml", content)) {
    return true;
  }
  op.ShowMessage(kWriteFailed, kWriteFailedTitle, MessageIcon::Information);
  return false;
}

}  // namespace orba
