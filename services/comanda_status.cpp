#include "services/comanda_status.h"

#include <optional>
#include <vector>

#include "common/database.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "common/transaction.h"
#include "exchange/failure_path.h"
#include "orders/comanda_order.h"
#include "orders/sale_state.h"
#include "services/answer_attributes.h"
#include "services/table_status.h"

namespace orba {

namespace {

// Messages of a comanda answer ("\n" written as the two characters).
constexpr const char* kNumberNotFound = "COMANDA\\nNÃO ENCONTRADA.";
constexpr const char* kComandaClosed = "COMANDA\\nFECHADA.\\nABRIR NO CAIXA";
constexpr const char* kNoWalkInCustomer = "ERRO CONSUMIDOR\\nFINAL VERIFICAR.";
constexpr const char* kCardClosed = "CARTAO\\nFECHADO.\\nABRIR NO CAIXA";
constexpr const char* kCustomerBlocked = "CLIENTE\\nBLOQUEADO.";
constexpr const char* kComandaBlocked = "Comanda bloqueada.\\nMotivo:\\n";
constexpr const char* kOutsideRanges = "O número digitado não está entre o range de comandas. ";
constexpr const char* kNumberCheckFailed = "Ocorreu um erro no Carrega Comanda Aberta.";

// Characters of a name shown on the handheld.
constexpr std::size_t kShownName = 15;

// Inside the opening's transaction the row, once there, is held until it ends.
DatabaseSession::Statement IsOpenRead(const DatabaseSession& db, long long number) {
  return {"Select CC.NR_CMD as NR_CMD, CC.IC_TIP_CMD as IC_TIP_CMD, CC.ID_PES_CLI as ID_PES_CLI\n"
          "From CONTROLE_COMANDA CC\n"
          "Where CC.NR_CMD = $1" + std::string(db.InTransaction() ? db.ForUpdate() : ""),
          {number}};
}

bool IsOpen(DatabaseSession& db, long long number) {
  const DatabaseSession::Statement read = IsOpenRead(db, number);
  return !db.Query(read.text, read.values).Eof();
}

// An open comanda or card: free unless one of its sales is finalized or
// locked, which the caller finds out.
ComandaOpening FoundOpen(ComandaStatus& result) {
  result.status = "L";
  result.message.clear();
  return ComandaOpening::AlreadyOpen;
}

ComandaOpening Refuse(ComandaStatus& result, std::string message) {
  result.status = "N";
  result.message = std::move(message);
  return ComandaOpening::Refused;
}

// Writes the controle_comanda row; false when another connection opened the
// number first (the key holds one row per number).
bool InsertComanda(DatabaseSession& db, long long number, const std::string& type, long long person) {
  return !db.Query("Insert into CONTROLE_COMANDA\n"
                   "values ($1, $2, $3)\n"
                   "on conflict (NR_CMD) do nothing\n"
                   "returning NR_CMD",
                   {number, type, person})
              .Eof();
}

// The part of the check that may open the number; runs under the write lock.
ComandaOpening OpenOnTheSpot(DatabaseSession& db, std::string_view typed, long long number, ComandaStatus& result) {
  // A customer card: the number is the customer's external code, compared as
  // the text the handheld sent (cards may carry leading zeros).
  const std::vector<Recordset> read = db.Queries({
      {"Select ic_abr_comanda, ic_abr_cartao From PARAMETRO_GERAL LIMIT 1", {}},
      {"Select P.NM_PES_CPL as NM_PES_CPL, C.ID_PES_CLI as ID_PES_CLI\n"
       "From PESSOA P, CLIENTE C\n"
       "Where C.CD_EXT = $1\n"
       "  And P.ID_PES = C.ID_PES_CLI",
       {SqlEscapeValue(typed)}},
  });
  const Recordset& parameters = read[0];
  const Recordset& card = read[1];
  const bool may_open_comanda = !parameters.Eof() && parameters.Field("ic_abr_comanda").Text() == "S";
  const bool may_open_card = !parameters.Eof() && parameters.Field("ic_abr_cartao").Text() == "S";
  if (!may_open_comanda && !may_open_card) return Refuse(result, kNumberNotFound);

  if (card.Eof()) {
    if (!may_open_comanda) return Refuse(result, kComandaClosed);
    if (std::string refusal = CheckComandaNumber(db, number); !refusal.empty()) {
      return Refuse(result, std::move(refusal));
    }
    Recordset consumer = db.Query("Select * from consumidor LIMIT 1");
    if (consumer.Eof()) return Refuse(result, kNoWalkInCustomer);
    if (!InsertComanda(db, number, "", consumer.Field("id_pes").Int())) return FoundOpen(result);
    result.status = "L";
    result.message.clear();
    result.retorno_ok =
        "COMANDA\\n" + FirstCharacters(consumer.Field("nm_pes_cpl").Text(), kShownName) + "\\n ABERTA";
    return ComandaOpening::OpenedNow;
  }

  // Blocks and ranges are for comandas: a card is opened whatever its number.
  if (!may_open_card) return Refuse(result, kCardClosed);
  const long long customer = card.Field("ID_PES_CLI").Int();
  if (!db.Query("Select ID_PES_CLI From CLIENTE_BLOQUEADO Where ID_PES_CLI = $1", {customer}).Eof()) {
    return Refuse(result, kCustomerBlocked);
  }
  if (!InsertComanda(db, number, "CRT", customer)) return FoundOpen(result);
  result.status = "L";
  result.message.clear();
  result.retorno_ok = "CARTAO\\n" + FirstCharacters(card.Field("NM_PES_CPL").Text(), kShownName) + "\\nABERTO";
  return ComandaOpening::OpenedNow;
}

// OpenComanda once the number was found not open.
ComandaOpening OpenIfAllowed(DatabaseSession& session, std::string_view typed, long long comanda,
                             ComandaStatus& result) {
  // Deciding and opening happen under the write lock: neither the back office
  // nor another request can open the number, block it or block its customer
  // in between. An open number is answered without taking the lock.
  std::optional<TransactionGuard> transaction;
  if (!session.InTransaction()) {
    transaction.emplace(session);
    if (IsOpen(session, comanda)) return FoundOpen(result);
  }
  const ComandaOpening opening = OpenOnTheSpot(session, typed, comanda, result);
  // A refusal wrote nothing and the guard rolls back: after a check that
  // failed, a server has spoiled the transaction and would refuse its commit.
  if (transaction && result.status == "L") transaction->Commit();
  return opening;
}

long long ComandaNumberOf(std::string_view number, ComandaStatus& result) {
  result.message.clear();
  result.retorno_ok.clear();
  const auto parsed = ParseComandaNumber(number);
  if (!parsed) throw RequestFailure("número de comanda inválido: \"" + std::string(number) + "\"");
  return *parsed;
}

void ApplyBlocked(const std::optional<BlockedSale>& blocked, ComandaStatus& result) {
  if (!blocked) return;
  result.status = blocked->status;
  result.message = blocked->message;
}

}  // namespace

ComandaOpening OpenComanda(DatabaseSession& session, std::string_view number, ComandaStatus& result) {
  const long long comanda = ComandaNumberOf(number, result);
  if (IsOpen(session, comanda)) return FoundOpen(result);
  return OpenIfAllowed(session, number, comanda, result);
}

void CheckComanda(DatabaseSession& session, std::string_view number, ComandaStatus& result) {
  const long long comanda = ComandaNumberOf(number, result);
  if (!session.InTransaction()) {
    // The usual case, an open number, in one round trip: the comanda with the
    // state of its sales.
    const std::vector<Recordset> read = session.Queries(
        {IsOpenRead(session, comanda),
         {"select cco.NR_ORC_LOC as nr_orc_loc, vd.ic_tip_ope, vd.nm_comp_lock\n"
          "from CONTROLE_COMANDA_ORCAMENTO cco\n"
          "  inner join VENDA_DIRETA vd on vd.nr_orc_loc = cco.NR_ORC_LOC\n"
          "where cco.NR_CMD = $1",
          {comanda}}});
    if (!read[0].Eof()) {
      FoundOpen(result);
      return ApplyBlocked(FirstBlockedAmong(read[1]), result);
    }
  } else if (IsOpen(session, comanda)) {
    FoundOpen(result);
    return ApplyBlocked(FirstBlockedSaleOfComanda(session, comanda), result);
  }
  if (OpenIfAllowed(session, number, comanda, result) != ComandaOpening::AlreadyOpen) return;
  ApplyBlocked(FirstBlockedSaleOfComanda(session, comanda), result);
}

std::string CheckComandaNumber(DatabaseSession& session, long long number) {
  try {
    const std::vector<Recordset> read = session.Queries({
        {"Select distinct CB.NR_CMD_BLQ as NR_CMD_BLQ, CB.ID_USU_BLQ as ID_USU_BLQ, CB.DT_BLQ as DT_BLQ,\n"
         "       CB.DC_MOT_BLQ as DC_MOT_BLQ\n"
         "From COMANDA_BLOQUEADA CB\n"
         "Where CB.NR_CMD_BLQ = $1",
         {number}},
        {"Select distinct CRN.ID_CMD_RNG as ID_CMD_RNG, CRN.NR_CMD_INI as NR_CMD_INI, CRN.NR_CMD_FIM as NR_CMD_FIM,\n"
         "       CRN.ID_USU_INC as ID_USU_INC, CRN.DT_INC as DT_INC\n"
         "From COMANDA_RANGE_NUMERACAO CRN\n"
         "Where CRN.NR_CMD_INI <= $1\n"
         "  And CRN.NR_CMD_FIM >= $1",
         {number}},
    });
    if (!read[0].Eof()) return kComandaBlocked + read[0].Field("DC_MOT_BLQ").Text();
    if (read[1].Eof()) return kOutsideRanges;
    return {};
  } catch (const DatabaseError&) {
    return kNumberCheckFailed;
  }
}

void HandleComandaStatus(Context& context, pugi::xml_document& request) {
  const pugi::xml_node local = FirstElement(request, "local");
  if (!local) return;
  RunHandler(
      context, "situação da comanda",
      [&]() {
        const std::string number = RequiredAttribute(local, "mesa");
        // An answer that could not carry its status must not open a comanda.
        RequiredAttribute(local, "status");
        RequiredAttribute(local, "mensagem");
        ComandaStatus status;
        CheckComanda(context.db, number, status);
        WriteAttribute(local, "status", status.status);
        WriteAttribute(local, "mensagem", status.message);
        // The rest only where the request carries it; there is no environment.
        const auto write_carried = [&](const char* name, const std::string& value) {
          if (pugi::xml_attribute attribute = local.attribute(name)) attribute.set_value(value.c_str());
        };
        write_carried("retornoOK", status.retorno_ok);
        write_carried("posisaoAss", "");
        write_carried("tipoConta", "");
        write_carried("pessoas", "1");
      },
      [](const std::string&) {}, [&](const std::exception&) { WriteReadFailure(local); });
}

}  // namespace orba
