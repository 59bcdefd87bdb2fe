#include "services/close.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/database.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "common/transaction.h"
#include "exchange/failure_path.h"
#include "orders/comanda_order.h"
#include "printing/print_layout.h"
#include "printing/routing.h"
#include "services/answer_attributes.h"

namespace orba {

namespace {

// People at the table as the request gives them: nothing when empty (the
// table keeps its count); a whole number the status can read back otherwise.
std::optional<long long> PeopleOf(const std::string& text) {
  if (TrimSpaces(text).empty()) return std::nullopt;
  const std::optional<long long> people = ParseInteger(text);
  if (!people || *people < 0 || *people > std::numeric_limits<std::int16_t>::max()) {
    throw RequestFailure("pessoas não é um número de pessoas: '" + text + "'");
  }
  return people;
}

long long AccountTypeOf(const std::string& text) {
  const std::optional<long long> type = ParseInteger(text);
  if (!type || *type < std::numeric_limits<std::int32_t>::min() || *type > std::numeric_limits<std::int32_t>::max()) {
    throw RequestFailure("ic_tip_cnt não é um tipo de conta: '" + text + "'");
  }
  return *type;
}

// parametro_geral.tp_impr, read with the handler's first statement.
const DatabaseSession::Statement kPrintTypeRead{"select tp_impr from parametro_geral", {}};

// tp_impr 1: closing prints no pre-bill.
bool PreBillsWanted(const Recordset& rs) {
  if (rs.Eof() || rs.Field("tp_impr").IsNull()) return true;
  const std::optional<double> type = ParseDecimal(rs.Field("tp_impr").Text());
  return !(type && *type == 1);
}

void PrintCloseBill(Context& context, const std::string& sale_list) {
  if (!PrintDocument(context, sale_list, "", kPrintTitle)) {
    // The operator has been shown why; the table stays closed.
    throw std::runtime_error("pré-conta de " + sale_list + " não impressa");
  }
}

// The failure answer, in the attributes the request carries.
void WriteCloseFailure(pugi::xml_node local) {
  if (pugi::xml_attribute status = local.attribute("status")) status.set_value("X");
  if (pugi::xml_attribute message = local.attribute("mensagem")) {
    message.set_value(std::string(kCloseFailed).c_str());
  }
}

struct SaleLink {
  long long sale = 0;
  Value account_type;
};

}  // namespace

void HandleTableClose(Context& context, pugi::xml_document& request) {
  const pugi::xml_node local = FirstElement(request, "local");
  if (!local) return;
  RunHandler(
      context, "fechamento da mesa",
      [&]() {
        DatabaseSession& db = context.db;
        const std::string mesa = RequiredAttribute(local, "mesa");
        const std::optional<long long> people = PeopleOf(RequiredAttribute(local, "pessoas"));
        long long account_type = AccountTypeOf(RequiredAttribute(local, "ic_tip_cnt"));

        const std::vector<Recordset> found = db.Queries(
            {{"select l.id_loc, l.qt_loc_ocu\n"
              "from local l\n"
              "where " + db.NameMatches("l.nm_loc", "$1"),
              {db.NameValue(mesa)}},
             kPrintTypeRead});
        if (found[0].Eof()) throw RequestFailure("mesa não encontrada: '" + mesa + "'");
        const long long place = found[0].Field("id_loc").Int();
        const bool pre_bills = PreBillsWanted(found[1]);

        TransactionGuard transaction(db);
        if (people) {
          db.ExecuteSql("update local set ic_stt_loc = 'P', qt_loc_ocu = $1 where id_loc = $2", {*people, place});
        } else {
          db.ExecuteSql("update local set ic_stt_loc = 'P' where id_loc = $1", {place});
        }

        std::vector<SaleLink> links;
        Recordset rs = db.Query(
            "select lv.nr_orc_loc, lv.nr_pos_com, lv.id_tp_cta\n"
            "from local_vnd lv\n"
            "where lv.id_loc = $1\n"
            "order by lv.nr_pos_com, lv.nr_orc_loc",
            {place});
        for (; !rs.Eof(); rs.MoveNext()) links.push_back(SaleLink{rs.Field("nr_orc_loc").Int(), rs.Field("id_tp_cta")});
        if (links.empty()) throw RequestFailure("mesa sem vendas: '" + mesa + "'");

        // 0 asks for the account type the table already has.
        if (account_type == 0 && !links.front().account_type.Text().empty()) {
          account_type = links.front().account_type.Int();
        }
        std::vector<long long> sales;
        std::string sale_list;
        for (const SaleLink& link : links) {
          sales.push_back(link.sale);
          if (!sale_list.empty()) sale_list += ',';
          sale_list += SqlNumber(link.sale);
        }
        db.ExecuteSql("update local_vnd set id_tp_cta = $1\n"
                      "where id_loc = $2\n"
                      "  and " + db.InList("nr_orc_loc", "$3", Value::Kind::Integer),
                      {account_type, place, db.ListOf(sales)});
        transaction.Commit();

        if (!pre_bills) return;
        if (account_type == kOneBillPerSale) {
          for (const SaleLink& link : links) PrintCloseBill(context, SqlNumber(link.sale));
        } else {
          PrintCloseBill(context, sale_list);
        }
      },
      [&](const std::string&) { WriteCloseFailure(local); },
      [&](const std::exception&) { WriteCloseFailure(local); });
}

void HandleComandaClose(Context& context, pugi::xml_document& request) {
  const pugi::xml_node local = FirstElement(request, "local");
  if (!local) return;
  RunHandler(
      context, "fechamento da comanda",
      [&]() {
        DatabaseSession& db = context.db;
        const std::string mesa = RequiredAttribute(local, "mesa");
        const std::optional<long long> number = ParseComandaNumber(mesa);
        if (!number) throw RequestFailure("número de comanda inválido: '" + mesa + "'");

        const std::vector<Recordset> found = db.Queries(
            {{"select CCO.NR_ORC_LOC\n"
              "from CONTROLE_COMANDA CC, CONTROLE_COMANDA_ORCAMENTO CCO, VENDA_DIRETA VD\n"
              "where CC.NR_CMD = $1\n"
              "  and CC.NR_CMD = CCO.NR_CMD\n"
              "  and CCO.NR_ORC_LOC = VD.NR_ORC_LOC\n"
              "order by CCO.NR_ORC_LOC",
              {*number}},
             kPrintTypeRead});
        std::vector<long long> sales;
        for (Recordset rs = found[0]; !rs.Eof(); rs.MoveNext()) sales.push_back(rs.Field("NR_ORC_LOC").Int());
        if (sales.empty() || !PreBillsWanted(found[1])) return;
        for (const long long sale : sales) PrintCloseBill(context, SqlNumber(sale));
      },
      [&](const std::string&) { WriteCloseFailure(local); },
      [&](const std::exception&) { WriteCloseFailure(local); });
}

}  // namespace orba
