// orbapda-pda: a handheld on the command line. It writes one request into the
// request folder the way the handhelds' synchronisation layer does (a whole
// ISO-8859-1 file appearing under its final name), waits for the answer in
// the answer folder, removes it and says in one line whether the service
// stored or refused the request (--xml: the answer as it came, in UTF-8).
//
//   orbapda-pda [--base DIR | --system-dir DIR] [--timeout SECONDS] [--xml] COMMAND ARGS...
//
// Exit status: 0 done, 1 refused or failed, 2 usage, 3 no answer.
//
// A new transaction is one more entry of kCommands.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <pugixml.hpp>
#include <sqlite3.h>

#include "common/text.h"
#include "common/xml_config.h"

namespace {

namespace fs = std::filesystem;

// A command whose arguments are options takes any number of them.
constexpr std::size_t kOptions = static_cast<std::size_t>(-1);

enum ExitStatus { kDone = 0, kRefused = 1, kUsage = 2, kNoAnswer = 3 };

// The element of an answer that carries its status and message, and whether
// the service did what was asked.
struct Verdict {
  pugi::xml_node element;
  bool done = false;
};

struct Command {
  std::string_view name;      // as typed on the command line
  std::string_view code;      // transaction code that begins the file name
  std::string_view arguments; // for the usage text
  std::size_t argument_count; // or kOptions
  // Fills the request document (declaration already there) from the
  // arguments; false with `error` set when they do not make a request.
  bool (*build)(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string& error);
  // Reads the answer: which element tells the outcome, and whether it is a success.
  Verdict (*judge)(const pugi::xml_document& answer);
  // Shows a position answer as a table instead of the one-line verdict;
  // false when the answer holds no position.
  bool (*show)(const pugi::xml_document& answer) = nullptr;
};

pugi::xml_node FirstElement(const pugi::xml_document& answer, const char* name) {
  return answer.select_node((std::string("//") + name).c_str()).node();
}

// A table (or comanda) that can take orders: free or being served.
Verdict JudgeTableStatus(const pugi::xml_document& answer) {
  const pugi::xml_node local = FirstElement(answer, "local");
  const std::string status = local.attribute("status").value();
  return {local, local && (status.empty() || status == "L" || status == "E")};
}

// Stored: no message and the items removed (a resend of an order already
// stored is answered the same way). Not stored: the items come back, with a
// message that says so.
Verdict JudgeOrder(const pugi::xml_document& answer) {
  const pugi::xml_node pedido = FirstElement(answer, "pedido");
  return {pedido, pedido && std::string_view(pedido.attribute("mensagem").value()).empty() && !pedido.child("item")};
}

Verdict JudgeTransfer(const pugi::xml_document& answer) {
  const pugi::xml_node trm = answer.child("TRM");
  return {trm, trm && std::string_view(trm.attribute("status").value()).empty()};
}

Verdict JudgePlaceLookup(const pugi::xml_document& answer) {
  const pugi::xml_node local = FirstElement(answer, "local");
  return {local, local && std::string_view(local.attribute("status").value()) != "X" &&
                     !std::string_view(local.attribute("id_loc").value()).empty()};
}

// CIM is answered with the request as it came.
Verdict JudgeEcho(const pugi::xml_document& answer) { return {answer.document_element(), true}; }

Verdict JudgeClose(const pugi::xml_document& answer) {
  const pugi::xml_node local = FirstElement(answer, "local");
  return {local, local && std::string_view(local.attribute("status").value()) != "X"};
}

Verdict JudgePosition(const pugi::xml_document& answer) {
  const pugi::xml_node pom = answer.child("POM");
  return {pom.child("local"), static_cast<bool>(pom)};
}

// What a status letter of an answer means.
std::string_view StatusMeaning(std::string_view status) {
  static constexpr std::pair<std::string_view, std::string_view> kMeanings[] = {
      {"L", "livre"},           {"E", "em atendimento"},   {"P", "aguardando pagamento"},
      {"A", "mesa agrupada"},   {"R", "mesa reservada"},   {"V", "pedido finalizado"},
      {"B", "pedido bloqueado"}, {"N", "não encontrada ou não aberta"}, {"I", "mesa inativa"},
      {"X", "o serviço não conseguiu atender"}, {"1", "transferência recusada"}};
  for (const auto& [letter, meaning] : kMeanings) {
    if (letter == status) return meaning;
  }
  return "desconhecido";
}

// The verdict in words: "STM RECUSADO - status N (não encontrada ou não
// aberta)", then the message, its "\n" shown as line breaks.
void PrintVerdict(std::string_view code, const Verdict& verdict) {
  std::string line = std::string(code) + (verdict.done ? " OK" : " RECUSADO");
  const std::string status = verdict.element.attribute("status").value();
  if (!status.empty()) line += " - status " + status + " (" + std::string(StatusMeaning(status)) + ")";
  std::puts(line.c_str());
  std::string message = verdict.element.attribute("mensagem").value();
  if (message.empty()) message = verdict.element.attribute("retornoOK").value();
  if (!message.empty()) {
    std::size_t start = 0;
    for (std::size_t end; (end = message.find("\\n", start)) != std::string::npos; start = end + 2) {
      std::printf("  %s\n", message.substr(start, end - start).c_str());
    }
    std::printf("  %s\n", message.substr(start).c_str());
  } else if (!verdict.done && verdict.element.child("item")) {
    std::puts("  resposta igual ao pedido: pedido não gravado;\n"
              "  o registro do serviço diz por quê (journalctl -u orbapda)");
  } else if (!verdict.done) {
    std::puts("  sem mensagem: o motivo está no registro do serviço (journalctl -u orbapda)");
  }
}

// A table (or, by comanda, a comanda or card number). The answer attributes
// of both modes go along: each mode fills its own.
bool BuildTableStatus(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string&) {
  pugi::xml_node local = request.append_child("local");
  local.append_attribute("mesa") = arguments[0].c_str();
  for (const char* name : {"status", "mensagem", "retornoOK", "ambiente", "posisaoAss", "tipoConta", "pessoas"}) {
    local.append_attribute(name) = "";
  }
  return true;
}

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    pieces.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) return pieces;
    start = colon + 1;
  }
}

// A stamp that no other run of the simulator repeats: the date and time as
// the handhelds write it (yyyymmddHHMMSS), the milliseconds and the process.
std::string FreshStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char unique[48];
  std::snprintf(unique, sizeof unique, "%s%03lld-%ld", text, static_cast<long long>(milliseconds),
                static_cast<long>(getpid()));
  return unique;
}

// pem MESA --operador N [--pessoas N] [--datahora STAMP | --sem-header]
//     --item POS:PRODUTO:QTDE:PRECO[:IDLOCALASS[:TPCONTA]] [--caract COD] [--acomp PRODUTO:QTDE:PRECO] ...
// The values go into the request as typed: the service is the one to judge them.
bool BuildTableOrder(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string& error) {
  std::string mesa;
  std::string operador;
  bool operador_given = false;
  std::string pessoas;
  std::string stamp = FreshStamp();
  bool header = true;
  struct Item {
    std::vector<std::string> fields;
    std::vector<std::string> options;
    std::vector<std::vector<std::string>> sides;
  };
  std::vector<Item> items;

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool is_option = argument.size() > 2 && argument.compare(0, 2, "--") == 0;
    if (!is_option) {
      if (!mesa.empty()) {
        error = "argumento a mais: " + argument;
        return false;
      }
      mesa = argument;
      continue;
    }
    if (argument == "--sem-header") {
      header = false;
      continue;
    }
    if (i + 1 >= arguments.size()) {
      error = argument + " precisa de um valor";
      return false;
    }
    const std::string& value = arguments[++i];
    if (argument == "--operador") {
      operador = value;
      operador_given = true;
    } else if (argument == "--pessoas") {
      pessoas = value;
    } else if (argument == "--datahora") {
      stamp = value;
    } else if (argument == "--item") {
      std::vector<std::string> fields = SplitColons(value);
      if (fields.size() < 4 || fields.size() > 6) {
        error = "--item espera POS:PRODUTO:QTDE:PRECO[:IDLOCALASS[:TPCONTA]]: " + value;
        return false;
      }
      fields.resize(6);
      if (fields[4].empty()) fields[4] = "0";
      if (fields[5].empty()) fields[5] = "1";
      items.push_back(Item{std::move(fields), {}, {}});
    } else if (argument == "--caract" || argument == "--acomp") {
      if (items.empty()) {
        error = argument + " vem depois do --item a que pertence";
        return false;
      }
      if (argument == "--caract") {
        items.back().options.push_back(value);
      } else {
        std::vector<std::string> fields = SplitColons(value);
        if (fields.size() != 3) {
          error = "--acomp espera PRODUTO:QTDE:PRECO: " + value;
          return false;
        }
        items.back().sides.push_back(std::move(fields));
      }
    } else {
      error = "opção desconhecida: " + argument;
      return false;
    }
  }
  if (mesa.empty()) {
    error = "falta a MESA";
    return false;
  }
  if (!operador_given) {
    error = "falta --operador";
    return false;
  }

  pugi::xml_node pedido = request.append_child("pedido");
  pedido.append_attribute("tipo") = "P";
  pedido.append_attribute("mesa") = mesa.c_str();
  pedido.append_attribute("operador") = operador.c_str();
  pedido.append_attribute("pessoas") = pessoas.c_str();
  pedido.append_attribute("mensagem") = "";
  if (header) pedido.append_child("header").append_attribute("datahora") = stamp.c_str();
  for (const Item& item : items) {
    pugi::xml_node node = pedido.append_child("item");
    node.append_attribute("posicao") = item.fields[0].c_str();
    node.append_attribute("idlocalass") = item.fields[4].c_str();
    node.append_attribute("tpconta") = item.fields[5].c_str();
    node.append_attribute("produto") = item.fields[1].c_str();
    node.append_attribute("preco") = item.fields[3].c_str();
    node.append_attribute("qtde") = item.fields[2].c_str();
    for (const std::string& option : item.options) node.append_child("caract").append_attribute("cod") = option.c_str();
    for (const auto& side : item.sides) {
      pugi::xml_node acomp = node.append_child("acomp");
      acomp.append_attribute("cod") = side[0].c_str();
      acomp.append_attribute("preco") = side[2].c_str();
      acomp.append_attribute("qtde") = side[1].c_str();
    }
  }
  return true;
}

// trm ORIGEM DESTINO. The service reads the names only from a TRM element
// with content: the element holds a line break, as a file written with its
// end tag on a line of its own does.
bool BuildTransfer(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string&) {
  pugi::xml_node trm = request.append_child("TRM");
  trm.append_attribute("mesaOrigem") = arguments[0].c_str();
  trm.append_attribute("mesaDestino") = arguments[1].c_str();
  trm.append_attribute("status") = "";
  trm.append_attribute("mensagem") = "";
  trm.append_child(pugi::node_pcdata).set_value("\r\n");
  return true;
}

// sla MESA AMBIENTE
bool BuildPlaceLookup(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string&) {
  pugi::xml_node local = request.append_child("local");
  local.append_attribute("mesa") = arguments[0].c_str();
  local.append_attribute("ambiente") = arguments[1].c_str();
  for (const char* name : {"id_loc", "nm_loc", "mensagem", "status"}) local.append_attribute(name) = "";
  return true;
}

// cim TIPO MESA OPERADOR
bool BuildCim(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string&) {
  pugi::xml_node pedido = request.append_child("CIM").append_child("Pedido");
  pedido.append_attribute("tipo") = arguments[0].c_str();
  pedido.append_attribute("mesa") = arguments[1].c_str();
  pedido.append_attribute("operador") = arguments[2].c_str();
  return true;
}

// Options "--name value" after one positional argument (MESA), each option
// one of `names`; false with `error` set otherwise. Options not given keep
// the value they have in `values`.
bool ReadMesaAndOptions(const std::vector<std::string>& arguments, const std::vector<std::string>& names,
                        std::string& mesa, std::vector<std::string>& values, std::string& error) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() <= 2 || argument.compare(0, 2, "--") != 0) {
      if (!mesa.empty()) {
        error = "argumento a mais: " + argument;
        return false;
      }
      mesa = argument;
      continue;
    }
    std::size_t which = 0;
    while (which < names.size() && names[which] != argument) ++which;
    if (which == names.size()) {
      error = "opção desconhecida: " + argument;
      return false;
    }
    if (i + 1 >= arguments.size()) {
      error = argument + " precisa de um valor";
      return false;
    }
    values[which] = arguments[++i];
  }
  if (mesa.empty()) {
    error = "falta a MESA";
    return false;
  }
  return true;
}

// pom MESA [--operador N] [--tipo T] [--ic-tip-tra X] [--xml]
bool BuildPosition(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string& error) {
  std::string mesa;
  std::vector<std::string> values = {"", "", ""};
  if (!ReadMesaAndOptions(arguments, {"--operador", "--tipo", "--ic-tip-tra"}, mesa, values, error)) {
    return false;
  }
  pugi::xml_node pedido = request.append_child("pedido");
  pedido.append_attribute("tipo") = values[1].c_str();
  pedido.append_attribute("mesa") = mesa.c_str();
  pedido.append_attribute("ic_tip_tra") = values[2].c_str();
  pedido.append_attribute("operador") = values[0].c_str();
  pedido.append_attribute("pessoas") = "";
  pedido.append_attribute("mensagem") = "";
  return true;
}

// fem MESA [--pessoas N] [--tipo-conta N]
bool BuildClose(pugi::xml_document& request, const std::vector<std::string>& arguments, std::string& error) {
  std::string mesa;
  std::vector<std::string> values = {"", "0"};
  if (!ReadMesaAndOptions(arguments, {"--pessoas", "--tipo-conta"}, mesa, values, error)) return false;
  pugi::xml_node local = request.append_child("local");
  local.append_attribute("mesa") = mesa.c_str();
  local.append_attribute("pessoas") = values[0].c_str();
  local.append_attribute("ic_tip_cnt") = values[1].c_str();
  local.append_attribute("status") = "";
  local.append_attribute("mensagem") = "";
  return true;
}

// `text` cut or padded with blanks to `width` characters, on the left or right.
std::string Column(const std::string& text, std::size_t width, bool right = false) {
  std::string cut = orba::FirstCharacters(text, width);
  const std::string blanks(width - orba::CharacterCount(cut), ' ');
  return right ? blanks + cut : cut + blanks;
}

// The position as a table: one line per item, its options and accompaniments
// under it, then the totals.
bool ShowPosition(const pugi::xml_document& document) {
  const pugi::xml_node pom = document.child("POM");
  if (!pom) return false;
  const pugi::xml_node local = pom.child("local");
  const pugi::xml_node pedido = pom.child("pedido");
  std::printf("MESA %s  situação %s  pessoas %s  %s\n", local.attribute("mesa").value(),
              local.attribute("status").value(), pedido.attribute("pessoas").value(),
              local.attribute("mensagem").value());
  std::printf("%s %s %s %s %s %s\n", Column("POS", 3, true).c_str(), Column("ORD", 3, true).c_str(),
              Column("PRODUTO", 7).c_str(), Column("DESCRIÇÃO", 30).c_str(), Column("QTDE", 9, true).c_str(),
              Column("PREÇO", 10, true).c_str());
  bool any = false;
  for (const pugi::xml_node item : pedido.children("item")) {
    any = true;
    std::printf("%s %s %s %s %s %s\n", Column(item.attribute("posicao").value(), 3, true).c_str(),
                Column(item.attribute("ordem").value(), 3, true).c_str(),
                Column(item.attribute("produto").value(), 7).c_str(),
                Column(item.attribute("descricao").value(), 30).c_str(),
                Column(item.attribute("qtde").value(), 9, true).c_str(),
                Column(item.attribute("preco").value(), 10, true).c_str());
    for (const pugi::xml_node option : item.children("caract")) {
      const std::string text = std::string("(*) ") + option.attribute("cod").value() + " " +
                               option.attribute("descricao").value();
      std::printf("%s %s\n", std::string(15, ' ').c_str(), orba::FirstCharacters(text, 30).c_str());
    }
    for (const pugi::xml_node side : item.children("acomp")) {
      std::printf("%s %s %s %s %s\n", std::string(7, ' ').c_str(), Column(side.attribute("cod").value(), 7).c_str(),
                  Column(std::string("(+) ") + side.attribute("descricao").value(), 30).c_str(),
                  Column(side.attribute("qtde").value(), 9, true).c_str(),
                  Column(side.attribute("preco").value(), 10, true).c_str());
    }
  }
  if (!any) std::puts("(nada consumido)");
  if (const pugi::xml_node total = pom.child("total")) {
    std::printf("subtotal %s  acréscimos %s  descontos %s  total %s  por pessoa %s\n",
                total.attribute("subtotal").value(), total.attribute("acrescimos").value(),
                total.attribute("descontos").value(), total.attribute("valortotal").value(),
                total.attribute("totalpercapta").value());
  }
  return true;
}

constexpr Command kCommands[] = {
    {"stm", "STM", "MESA", 1, &BuildTableStatus, &JudgeTableStatus},
    {"pem", "PEM",
     "MESA --operador N [--pessoas N] [--datahora STAMP | --sem-header]\n"
     "      --item POS:PRODUTO:QTDE:PRECO[:IDLOCALASS[:TPCONTA]] [--caract COD]... [--acomp PRODUTO:QTDE:PRECO]...\n"
     "      [--item ...]...",
     kOptions, &BuildTableOrder, &JudgeOrder},
    {"trm", "TRM", "ORIGEM DESTINO", 2, &BuildTransfer, &JudgeTransfer},
    {"sla", "SLA", "MESA AMBIENTE", 2, &BuildPlaceLookup, &JudgePlaceLookup},
    {"cim", "CIM", "TIPO MESA OPERADOR", 3, &BuildCim, &JudgeEcho},
    {"pom", "POM", "MESA [--operador N] [--tipo T] [--ic-tip-tra X]", kOptions, &BuildPosition, &JudgePosition,
     &ShowPosition},
    {"fem", "FEM", "MESA [--pessoas N] [--tipo-conta N]", kOptions, &BuildClose, &JudgeClose},
};

void PrintUsage(std::FILE* to) {
  std::fputs("Uso: orbapda-pda [--base DIR | --system-dir DIR] [--timeout SEGUNDOS] [--xml] COMANDO ARGS...\n"
             "\n"
             "  --base DIR         pasta base da instalação (a que contém xml/Enviar e xml/Receber)\n"
             "  --system-dir DIR   pasta do ORBA.INI, de onde vem a pasta base (padrão: ORBA_SYSTEM_DIR\n"
             "                     ou /etc/orba/)\n"
             "  --timeout SEGUNDOS espera pela resposta (padrão 10)\n"
             "  --xml              mostra a resposta como veio, em vez do resultado em uma linha\n"
             "  -h, --help         mostra este texto\n"
             "\n"
             "Saída: 0 feito, 1 recusado ou falhou, 2 uso errado, 3 sem resposta.\n"
             "\n"
             "Comandos:\n",
             to);
  for (const Command& command : kCommands) {
    std::fprintf(to, "  %.*s %.*s\n", static_cast<int>(command.name.size()), command.name.data(),
                 static_cast<int>(command.arguments.size()), command.arguments.data());
  }
  std::fputs("\n"
             "stm: situação da mesa MESA; no modo comanda, MESA é o número da comanda ou do cartão, que\n"
             "  o serviço abre quando o estabelecimento permite (retornoOK diz quem abriu).\n"
             "pem: pedido da mesa MESA (no modo comanda, da comanda MESA). Cada --item é uma linha: posição\n"
             "  na mesa, código do produto, quantidade e preço unitário (com ',' ou '.'), e opcionalmente o\n"
             "  local associado (quarto; padrão 0) e o tipo de conta (padrão 1), que o modo comanda ignora.\n"
             "  --caract e --acomp pertencem ao --item anterior. O pedido vai como\n"
             "    <pedido tipo=\"P\" mesa=\"..\" operador=\"..\" pessoas=\"..\" mensagem=\"\">\n"
             "      <header datahora=\"..\"/><item posicao=\"..\" idlocalass=\"..\" tpconta=\"..\"\n"
             "      produto=\"..\" preco=\"..\" qtde=\"..\"><caract cod=\"..\"/><acomp cod=\"..\" preco=\"..\"\n"
             "      qtde=\"..\"/></item>...</pedido>\n"
             "  --datahora padrão: data e hora atuais (aaaammddHHMMSS) seguidas dos milissegundos e do\n"
             "  processo, para que dois pedidos nunca pareçam o mesmo reenviado; repetir um --datahora\n"
             "  simula um reenvio. --sem-header manda o pedido sem header (sem carimbo). --pessoas\n"
             "  padrão: vazio (não muda as pessoas da mesa).\n"
             "trm: transfere tudo o que está aberto na mesa ORIGEM para a mesa DESTINO, que deve estar\n"
             "  livre: <TRM mesaOrigem=\"..\" mesaDestino=\"..\" status=\"\" mensagem=\"\">(quebra de linha)</TRM>.\n"
             "sla: consulta o local ocupado MESA do ambiente AMBIENTE (id_amb) e o nome do cliente\n"
             "  (só no modo mesa; no modo comanda o serviço não responde, e o simulador o diz logo\n"
             "  quando lê o modo no ORBA.MDB).\n"
             "cim: pedido CIM <CIM><Pedido tipo=\"..\" mesa=\"..\" operador=\"..\"/></CIM>; a resposta é o\n"
             "  próprio pedido.\n"
             "pom: posição da mesa (ou comanda) MESA: os itens de cada venda com quantidade e preço e os\n"
             "  totais, em tabela.\n"
             "fem: fecha a mesa MESA e pede a conta (pré-conta impressa). --pessoas padrão: vazio (não muda\n"
             "  as pessoas da mesa); --tipo-conta padrão 0 (o tipo de conta que a mesa já tem; 2 = uma\n"
             "  pré-conta por posição).\n",
             to);
}

// The base folder named by ORBA.INI (attribute SR of the first child of RO);
// `server` tells whether BANCO names a PostgreSQL server instead of ORBA.MDB.
bool BaseFromSystemDirectory(const std::string& system_dir, std::string& base, bool& server, std::string& error) {
  std::string folder = system_dir;
  if (folder.empty()) {
    const char* env = std::getenv("ORBA_SYSTEM_DIR");
    if (env != nullptr) folder = env;
  }
  const std::string path = orba::SystemDirectory(folder) + "ORBA.INI";
  pugi::xml_document configuration;
  if (!orba::LoadXmlFile(path, configuration, error)) {
    error = "não foi possível ler " + error;
    return false;
  }
  const pugi::xml_node root = configuration.child("RO");
  if (!root) {
    error = path + " não tem o elemento RO";
    return false;
  }
  base = orba::ReadXmlAttribute(root, 0, "SR", "");
  server = orba::UpperCase(orba::TrimSpaces(root.child("BANCO").attribute("TIPO").value())) == "POSTGRESQL";
  return true;
}

// Whether the establishment works by comanda, as parametro_geral of ORBA.MDB
// says, read without writing anything; false when it cannot be read (the
// service then tells by not answering an SLA).
bool ComandaModeInDatabase(const std::string& base) {
  sqlite3* db = nullptr;
  bool comanda = false;
  if (sqlite3_open_v2((base + "ORBA.MDB").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "select ic_tra_cmd = 'S' or ic_tra_cmd_sem_ctrl_es = 'S' from parametro_geral", -1,
                           &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      comanda = sqlite3_column_int(statement, 0) != 0;
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return comanda;
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Answers are saved in the encoding their declaration names.
std::string AnswerAsUtf8(const std::string& bytes) {
  const std::size_t end = bytes.find("?>");
  const std::string declaration = orba::UpperCase(bytes.substr(0, end == std::string::npos ? 0 : end));
  if (bytes.rfind("<?xml", 0) == 0 &&
      (declaration.find("ISO-8859-1") != std::string::npos || declaration.find("LATIN1") != std::string::npos)) {
    return orba::Latin1ToUtf8(bytes);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  std::string base;
  std::string system_dir;
  bool base_given = false;
  bool system_given = false;
  bool raw = false;
  double timeout_seconds = 10;
  std::vector<std::string> words;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto next = [&](std::string& target) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orbapda-pda: %s precisa de um valor\n", argv[i]);
        std::exit(kUsage);
      }
      target = argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return kDone;
    } else if (arg == "--xml") {  // anywhere on the line: how the answer is shown
      raw = true;
    } else if (arg == "--base") {
      next(base);
      base_given = true;
    } else if (arg == "--system-dir") {
      next(system_dir);
      system_given = true;
    } else if (arg == "--timeout") {
      std::string value;
      next(value);
      const auto parsed = orba::ParseDecimal(value);
      if (!parsed || *parsed <= 0) {
        std::fprintf(stderr, "orbapda-pda: tempo de espera inválido: %s\n", value.c_str());
        return kUsage;
      }
      timeout_seconds = *parsed;
    } else if (arg.size() > 1 && arg[0] == '-' && words.empty()) {
      std::fprintf(stderr, "orbapda-pda: opção desconhecida: %s\n", argv[i]);
      PrintUsage(stderr);
      return kUsage;
    } else {
      words.emplace_back(arg);
    }
  }
  if (base_given && system_given) {
    std::fputs("orbapda-pda: use --base ou --system-dir, não os dois\n", stderr);
    return kUsage;
  }
  if (words.empty()) {
    PrintUsage(stderr);
    return kUsage;
  }

  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (orba::UpperCase(words[0]) == orba::UpperCase(candidate.name)) command = &candidate;
  }
  if (command == nullptr) {
    std::fprintf(stderr, "orbapda-pda: comando desconhecido: %s\n", words[0].c_str());
    PrintUsage(stderr);
    return kUsage;
  }
  const std::vector<std::string> arguments(words.begin() + 1, words.end());
  if (command->argument_count != kOptions && arguments.size() != command->argument_count) {
    std::fprintf(stderr, "orbapda-pda: uso: %.*s %.*s\n", static_cast<int>(command->name.size()),
                 command->name.data(), static_cast<int>(command->arguments.size()),
                 command->arguments.data());
    return kUsage;
  }

  pugi::xml_document request;
  pugi::xml_node declaration = request.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "ISO-8859-1";
  std::string build_error;
  if (!command->build(request, arguments, build_error)) {
    std::fprintf(stderr, "orbapda-pda: %s\n", build_error.c_str());
    std::fprintf(stderr, "orbapda-pda: uso: %.*s %.*s\n", static_cast<int>(command->name.size()),
                 command->name.data(), static_cast<int>(command->arguments.size()),
                 command->arguments.data());
    return kUsage;
  }

  bool server = false;
  if (base_given) {
    if (!base.empty() && base.back() != '/') base += '/';
  } else {
    std::string error;
    if (!BaseFromSystemDirectory(system_dir, base, server, error)) {
      std::fprintf(stderr, "orbapda-pda: %s\n", error.c_str());
      return kRefused;
    }
  }
  const fs::path request_folder = base + "xml/Enviar";
  const fs::path answer_folder = base + "xml/Receber";
  std::error_code ec;
  if (!fs::is_directory(request_folder, ec) || !fs::is_directory(answer_folder, ec)) {
    std::fprintf(stderr, "orbapda-pda: pastas de troca não encontradas em %sxml/\n", base.c_str());
    return kRefused;
  }
  // By comanda the service never answers a place lookup: say so instead of waiting.
  if (command->code == "SLA" && !server && ComandaModeInDatabase(base)) {
    std::fputs("orbapda-pda: sla (consulta de local) só existe no modo mesa; este estabelecimento trabalha\n"
               "  por comanda (parametro_geral.ic_tra_cmd ou ic_tra_cmd_sem_ctrl_es = 'S' no ORBA.MDB)\n",
               stderr);
    return kRefused;
  }

  // A name of our own: the code, the process and a counter.
  static unsigned counter = 0;
  const std::string stem = std::string(command->code) + std::to_string(getpid()) + std::to_string(++counter);
  const std::string name = stem + ".Xml";
  const fs::path partial = request_folder / (stem + ".part");
  const fs::path waiting = request_folder / name;
  const fs::path answer = answer_folder / name;

  if (!request.save_file(partial.c_str(), "", pugi::format_raw | pugi::format_no_declaration,
                         pugi::encoding_latin1)) {
    std::fprintf(stderr, "orbapda-pda: não foi possível gravar %s\n", partial.c_str());
    return kRefused;
  }
  fs::rename(partial, waiting, ec);
  if (ec) {
    fs::remove(partial, ec);
    std::fprintf(stderr, "orbapda-pda: não foi possível gravar %s\n", waiting.c_str());
    return kRefused;
  }

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeout_seconds));
  while (!fs::exists(answer, ec)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      // Nobody took the request: do not leave it for a later start.
      fs::remove(waiting, ec);
      std::fprintf(stderr, "orbapda-pda: sem resposta para %s em %g s (o orbapda está rodando?%s)\n",
                   name.c_str(), timeout_seconds,
                   command->code == "SLA" ? " sla só é respondido no modo mesa" : "");
      return kNoAnswer;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string content = ReadWholeFile(answer);
  fs::remove(answer, ec);
  const std::string shown = AnswerAsUtf8(content);
  pugi::xml_document document;
  const bool readable = document.load_string(shown.c_str());
  if (raw) {
    std::fputs(shown.c_str(), stdout);
    if (shown.empty() || shown.back() != '\n') std::fputc('\n', stdout);
  }
  if (!readable || !document.document_element()) {
    if (!raw) {
      std::printf("%.*s RECUSADO\n  resposta vazia ou ilegível: o serviço não leu o pedido "
                  "(journalctl -u orbapda diz por quê)\n",
                  static_cast<int>(command->code.size()), command->code.data());
    }
    return kRefused;
  }
  const Verdict verdict = command->judge(document);
  if (!raw && !(command->show != nullptr && command->show(document))) PrintVerdict(command->code, verdict);
  return verdict.done ? kDone : kRefused;
}
