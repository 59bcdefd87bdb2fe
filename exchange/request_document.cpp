#include "exchange/request_document.h"

#include <cstdint>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "common/safe_file.h"
#include "common/text.h"
#include "common/xml_config.h"

namespace orba {

namespace {

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_ws_pcdata;

enum class Encoding { Utf8, SingleByte, Utf16Le, Utf16Be };

// The encoding name of the declaration at the start of the bytes (ASCII
// compatible encodings only; UTF-16 is told by its byte-order mark).
std::string DeclaredEncodingName(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return {};
  const std::size_t end = bytes.find("?>");
  const std::string_view declaration = bytes.substr(0, end);
  const std::size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) return {};
  std::size_t quote = declaration.find_first_of("\"'", at);
  if (quote == std::string_view::npos) return {};
  const std::size_t close = declaration.find(declaration[quote], quote + 1);
  if (close == std::string_view::npos) return {};
  return UpperCase(declaration.substr(quote + 1, close - quote - 1));
}

std::optional<Encoding> EncodingOf(std::string_view bytes, std::string& error) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return Encoding::Utf16Le;
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE && static_cast<unsigned char>(bytes[1]) == 0xFF) {
    return Encoding::Utf16Be;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return Encoding::Utf8;
  const std::string name = DeclaredEncodingName(bytes);
  if (name.empty() || name == "UTF-8" || name == "UTF8") return Encoding::Utf8;
  if (name.rfind("UTF-16", 0) == 0 || name.rfind("UCS-2", 0) == 0 || name.rfind("UTF-32", 0) == 0 ||
      name.rfind("UCS-4", 0) == 0) {
    // Declared, but the bytes are not: they read as an ASCII-compatible text.
    error = "declara " + name + " mas não está nessa codificação";
    return std::nullopt;
  }
  // ISO-8859-1 however it is spelled, and the other single-byte code pages:
  // every byte is a character.
  return Encoding::SingleByte;
}

// The characters of the text, decoded; nothing when a byte sequence is not
// valid in the encoding.
std::optional<std::u32string> Decode(std::string_view bytes, Encoding encoding) {
  std::u32string text;
  text.reserve(bytes.size());
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  switch (encoding) {
    case Encoding::SingleByte:
      for (std::size_t i = 0; i < bytes.size(); ++i) text += static_cast<char32_t>(byte(i));
      return text;
    case Encoding::Utf8: {
      std::size_t i = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
      while (i < bytes.size()) {
        const unsigned char lead = byte(i);
        int length = 0;
        char32_t c = 0;
        if (lead < 0x80) { length = 1; c = lead; }
        else if (lead >= 0xC2 && lead <= 0xDF) { length = 2; c = lead & 0x1F; }
        else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; c = lead & 0x0F; }
        else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; c = lead & 0x07; }
        else return std::nullopt;
        if (i + length > bytes.size()) return std::nullopt;
        for (int k = 1; k < length; ++k) {
          if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
          c = (c << 6) | (byte(i + k) & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF)) {
          return std::nullopt;
        }
        text += c;
        i += static_cast<std::size_t>(length);
      }
      return text;
    }
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
      if (bytes.size() % 2 != 0) return std::nullopt;
      const bool little = encoding == Encoding::Utf16Le;
      const auto unit = [&](std::size_t i) -> char32_t {
        return little ? (byte(i) | (byte(i + 1) << 8)) : ((byte(i) << 8) | byte(i + 1));
      };
      for (std::size_t i = 2; i < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
          if (i + 3 >= bytes.size()) return std::nullopt;
          const char32_t low = unit(i + 2);
          if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
          return std::nullopt;
        }
        text += c;
      }
      return text;
    }
  }
  return std::nullopt;
}

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// What pugixml lets through and a request must not hold: characters that
// XML forbids (NUL among them), references that are not one of the five
// entities or a character other than NUL, a bare '&', a '<' inside an
// attribute value, and document type declarations.
class MarkupScanner {
 public:
  explicit MarkupScanner(const std::u32string& text) : t_(text) {}

  bool Scan(std::string& error) {
    for (char32_t c : t_) {
      if (!IsXmlChar(c)) return Fail(error, "caractere proibido em XML");
    }
    if (!t_.empty() && t_[0] == 0xFEFF) i_ = 1;  // byte-order mark
    while (i_ < t_.size()) {
      const char32_t c = t_[i_];
      if (c == U'<') {
        if (!Markup(error)) return false;
      } else if (depth_ == 0 && c != U' ' && c != U'\t' && c != U'\r' && c != U'\n') {
        return Fail(error, "texto fora do elemento do documento");
      } else if (c == U'&') {
        if (!Reference()) return Fail(error, "referência inválida ou '&' solto");
      } else {
        ++i_;
      }
    }
    return true;
  }

 private:
  bool Fail(std::string& error, const char* what) {
    error = std::string(what) + " (posição " + std::to_string(i_) + ")";
    return false;
  }

  bool StartsWith(std::u32string_view prefix) const {
    return std::u32string_view(t_).substr(i_, prefix.size()) == prefix;
  }

  bool SkipPast(std::u32string_view end) {
    const std::size_t at = t_.find(end, i_);
    if (at == std::u32string::npos) return false;
    i_ = at + end.size();
    return true;
  }

  // At '&': one of the five entities, or a character reference to a
  // character XML allows.
  bool Reference() {
    const std::size_t semicolon = t_.find(U';', i_);
    if (semicolon == std::u32string::npos || semicolon - i_ > 12) return false;
    const std::u32string body = t_.substr(i_ + 1, semicolon - i_ - 1);
    i_ = semicolon + 1;
    if (body == U"amp" || body == U"lt" || body == U"gt" || body == U"quot" || body == U"apos") return true;
    if (body.size() < 2 || body[0] != U'#') return false;
    const bool hex = body[1] == U'x';
    const std::size_t first = hex ? 2 : 1;
    if (first >= body.size()) return false;
    std::uint32_t value = 0;
    for (std::size_t k = first; k < body.size(); ++k) {
      const char32_t d = body[k];
      std::uint32_t digit = 0;
      if (d >= U'0' && d <= U'9') digit = d - U'0';
      else if (hex && d >= U'a' && d <= U'f') digit = d - U'a' + 10;
      else if (hex && d >= U'A' && d <= U'F') digit = d - U'A' + 10;
      else return false;
      value = value * (hex ? 16 : 10) + digit;
      if (value > 0x10FFFF) return false;
    }
    return IsXmlChar(value);
  }

  // At '<'.
  bool Markup(std::string& error) {
    if (StartsWith(U"<!--")) return SkipPast(U"-->") || Fail(error, "comentário sem fim");
    if (StartsWith(U"<![CDATA[")) return SkipPast(U"]]>") || Fail(error, "CDATA sem fim");
    if (StartsWith(U"<?")) return SkipPast(U"?>") || Fail(error, "instrução sem fim");
    if (StartsWith(U"<!")) return Fail(error, "declaração de tipo de documento não aceita");
    // A tag: values in quotes may hold '>' but never '<'.
    ++i_;
    const bool end_tag = i_ < t_.size() && t_[i_] == U'/';
    char32_t quote = 0;
    while (i_ < t_.size()) {
      const char32_t c = t_[i_];
      if (quote != 0) {
        if (c == quote) {
          quote = 0;
        } else if (c == U'<') {
          return Fail(error, "'<' dentro de um valor de atributo");
        } else if (c == U'&') {
          if (!Reference()) return Fail(error, "referência inválida ou '&' solto");
          continue;
        }
      } else if (c == U'"' || c == U'\'') {
        quote = c;
      } else if (c == U'>') {
        if (end_tag) {
          --depth_;
        } else if (t_[i_ - 1] != U'/') {
          ++depth_;
        }
        ++i_;
        return true;
      }
      ++i_;
    }
    return Fail(error, "marcação sem fim");
  }

  const std::u32string& t_;
  std::size_t i_ = 0;
  long depth_ = 0;  // elements open at the current place
};

// After parsing: one document element, nothing but blanks, comments and
// instructions beside it, no attribute twice in an element.
bool CheckStructure(const pugi::xml_document& document, std::string& error) {
  int elements = 0;
  for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
    switch (node.type()) {
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_pcdata:
        if (std::string_view(node.value()).find_first_not_of(" \t\r\n") != std::string_view::npos) {
          error = "texto fora do elemento do documento";
          return false;
        }
        break;
      case pugi::node_declaration:
      case pugi::node_comment:
      case pugi::node_pi:
        break;
      default:
        error = "conteúdo inesperado fora do elemento do documento";
        return false;
    }
  }
  if (elements != 1) {
    error = elements == 0 ? "nenhum elemento no documento" : "mais de um elemento raiz";
    return false;
  }
  bool repeated = false;
  struct Walker : pugi::xml_tree_walker {
    bool* repeated;
    bool for_each(pugi::xml_node& node) override {
      std::set<std::string_view> names;
      for (const pugi::xml_attribute& attribute : node.attributes()) {
        if (!names.insert(attribute.name()).second) {
          *repeated = true;
          return false;
        }
      }
      return true;
    }
  } walker;
  walker.repeated = &repeated;
  document.document_element().traverse(walker);
  std::set<std::string_view> root_names;
  for (const pugi::xml_attribute& attribute : document.document_element().attributes()) {
    if (!root_names.insert(attribute.name()).second) repeated = true;
  }
  if (repeated) error = "atributo repetido num elemento";
  return !repeated;
}

// The encoding the answer is saved in: the one its declaration names.
pugi::xml_encoding AnswerEncoding(const pugi::xml_document& document, unsigned& format) {
  for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_declaration) continue;
    const std::string name = UpperCase(node.attribute("encoding").value());
    // Exactly the names for which loading decoded the file as ISO-8859-1;
    // any other single-byte name was kept as bytes and goes back the same way.
    if (name == "ISO-8859-1" || name == "LATIN1") return pugi::encoding_latin1;
    if (name == "UTF-16" || name == "UTF-16LE" || name == "UCS-2") {
      format |= pugi::format_write_bom;
      return pugi::encoding_utf16_le;
    }
    if (name == "UTF-16BE") {
      format |= pugi::format_write_bom;
      return pugi::encoding_utf16_be;
    }
    return pugi::encoding_utf8;
  }
  return pugi::encoding_utf8;
}

}  // namespace

bool ParseRequestDocument(const std::string& bytes, pugi::xml_document& document, std::string& error) {
  document.reset();
  const std::optional<Encoding> encoding = EncodingOf(bytes, error);
  if (!encoding) return false;
  const std::optional<std::u32string> text = Decode(bytes, *encoding);
  if (!text) {
    error = "bytes inválidos para a codificação declarada";
    return false;
  }
  if (!MarkupScanner(*text).Scan(error)) return false;
  const pugi::xml_parse_result result = document.load_buffer(bytes.data(), bytes.size(), kParseOptions);
  if (!result) {
    document.reset();
    error = std::string(result.description()) + " (posição " + std::to_string(result.offset) + ")";
    return false;
  }
  if (!CheckStructure(document, error)) {
    document.reset();
    return false;
  }
  return true;
}

bool LoadRequestDocument(const std::string& folder, const std::string& name, pugi::xml_document& document,
                         std::string& error) {
  document.reset();
  std::string bytes;
  if (!ReadFileInFolder(folder, name, bytes, error, kMaxRequestBytes)) return false;
  return ParseRequestDocument(bytes, document, error);
}

bool SaveAnswerDocument(const pugi::xml_document& document, const std::string& folder, const std::string& name,
                        std::string* error) {
  // The answer carries the request's own declaration (kept as a node of the
  // document) and no other: a request without one is answered without one,
  // and a request that could not be read is answered by an empty file.
  unsigned format = pugi::format_raw | pugi::format_no_declaration;
  const pugi::xml_encoding encoding = AnswerEncoding(document, format);
  std::ostringstream bytes;
  document.save(bytes, "", format, encoding);
  return WriteFileSafely(folder, name, bytes.str(), Existing::Replace, error);
}

}  // namespace orba
