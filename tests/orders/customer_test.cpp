#include "orders/customer.h"

#include <gtest/gtest.h>

#include "common/database.h"
#include "support/test_database.h"

namespace orba::test {
namespace {

class CustomerTest : public ::testing::Test {
 protected:
  CustomerTest() {
    db.Exec(
        "INSERT INTO municipio VALUES (3550308, 'SAO PAULO', 35), (3304557, 'RIO', 33);"
        "INSERT INTO pessoa VALUES (1, 'CONSUMIDOR FINAL'), (2, 'JOAO'), (3, 'MARIA');"
        "INSERT INTO cliente (id_pes_cli, id_tip_emp) VALUES (1, 1), (2, 4), (3, 5);"
        "INSERT INTO estabelecimento VALUES (7, 3), (5, 2), (6, 1);"
        "INSERT INTO endereco_geo (id_end_geo, id_etb, id_mun) VALUES (70, 7, 3304557), (50, 5, 3550308),"
        " (60, 6, 3550308);");
  }

  void AddConsumer() {
    db.Exec("INSERT INTO consumidor VALUES (1, 'CONSUMIDOR FINAL', 35, 3550308, 2, 60, 1, 6, 3, 'N')");
  }

  TestDatabase db;
  CustomerRecord customer;
};

TEST_F(CustomerTest, WalkInCustomerMissingIsReportedAndRetried) {
  customer.name = "OLD";
  customer.ipi_contributor = "S";
  EXPECT_FALSE(LoadConsumerCustomer(db.session, db.op, customer));
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].title, "AVISO");
  EXPECT_EQ(db.op.messages[0].icon, MessageIcon::Critical);
  EXPECT_EQ(db.op.messages[0].text,
            "Parâmetro de Venda ao Consumidor não Cadastrado.     \r\r"
            "Cadastre o parâmetro no portal web do sistema:\r"
            " -> Escolha o MENU: PARÂMETROS\r"
            " -> Escolha o TÓPICO: EMPRESA\r"
            " -> Escolha a OPÇÂO: PARÂMETROS DE VENDA AO CONSUMIDOR \r\r"
            "Após o cadastramento na Web, execute a função CTRL+F5 no OrbaOffline    \r"
            " -> Selecione a opção DIVERSOS");
  EXPECT_EQ(customer.name, "");
  EXPECT_EQ(customer.establishment, "0");
  EXPECT_EQ(customer.invoice_type, "0");
  EXPECT_EQ(customer.ipi_contributor, "");

  AddConsumer();
  customer.requesting_user = "99";
  ASSERT_TRUE(LoadConsumerCustomer(db.session, db.op, customer));
  EXPECT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(customer.name, "CONSUMIDOR FINAL");
  EXPECT_EQ(customer.person, "1");
  EXPECT_EQ(customer.state, "35");
  EXPECT_EQ(customer.municipality, "3550308");
  EXPECT_EQ(customer.product_use, "2");
  EXPECT_EQ(customer.billing_address, "60");
  EXPECT_EQ(customer.delivery_address, "60");
  EXPECT_EQ(customer.collection_address, "60");
  EXPECT_EQ(customer.company_type, "1");
  EXPECT_EQ(customer.establishment, "6");
  EXPECT_EQ(customer.invoice_type, "3");
  EXPECT_EQ(customer.ipi_contributor, "N");
  EXPECT_EQ(customer.requesting_user, "");
}

TEST_F(CustomerTest, PlaceCustomerComesFromTheRoomsSale) {
  AddConsumer();
  ASSERT_TRUE(LoadConsumerCustomer(db.session, db.op, customer));
  db.Exec("INSERT INTO venda_direta (nr_orc_loc, nm_pes_cli, id_etb_cli, id_end_geo_fat, id_end_geo_etg,"
          " id_end_geo_cob, id_uti_pro, id_tip_nf) VALUES (40, 'HOSPEDE 101', 5, 50, 51, 52, 8, 8);"
          "INSERT INTO local_vnd (id_loc, nr_orc_loc) VALUES (101, 40)");
  ASSERT_TRUE(LoadPlaceCustomer(db.session, db.op, customer, 101));
  EXPECT_EQ(customer.name, "HOSPEDE 101");
  EXPECT_EQ(customer.person, "2");
  EXPECT_EQ(customer.state, "35");
  EXPECT_EQ(customer.municipality, "3550308");
  EXPECT_EQ(customer.billing_address, "50");
  EXPECT_EQ(customer.delivery_address, "51");
  EXPECT_EQ(customer.collection_address, "52");
  EXPECT_EQ(customer.company_type, "4");
  EXPECT_EQ(customer.establishment, "5");
  // Kept from the walk-in customer.
  EXPECT_EQ(customer.product_use, "2");
  EXPECT_EQ(customer.invoice_type, "3");
  EXPECT_TRUE(db.op.messages.empty());
}

TEST_F(CustomerTest, RoomWithoutCustomerLinkFails) {
  AddConsumer();
  ASSERT_TRUE(LoadConsumerCustomer(db.session, db.op, customer));
  // The room's sale names an establishment that does not exist.
  db.Exec("INSERT INTO venda_direta (nr_orc_loc, nm_pes_cli, id_etb_cli, id_end_geo_fat) VALUES (41, 'X', 999, 50);"
          "INSERT INTO local_vnd (id_loc, nr_orc_loc) VALUES (102, 41)");
  EXPECT_FALSE(LoadPlaceCustomer(db.session, db.op, customer, 102));
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].text, "Erro ao encontrar os dados do Cliente.");
  EXPECT_EQ(customer.name, "");
  EXPECT_EQ(customer.establishment, "0");
  EXPECT_EQ(customer.billing_address, "0");
  EXPECT_EQ(customer.product_use, "2");
  EXPECT_EQ(customer.invoice_type, "3");
  EXPECT_EQ(customer.ipi_contributor, "N");
  // A room without any sale fails the same way.
  EXPECT_FALSE(LoadPlaceCustomer(db.session, db.op, customer, 103));
}

TEST_F(CustomerTest, CustomersOfSeveralSalesInOneRead) {
  AddConsumer();
  ASSERT_TRUE(LoadConsumerCustomer(db.session, db.op, customer));
  // The walk-in customer's sale, a guest's, and one whose establishment is unknown.
  db.Exec("INSERT INTO venda_direta (nr_orc_loc, nm_pes_cli, id_etb_cli, id_end_geo_fat, id_end_geo_etg,"
          " id_end_geo_cob, id_uti_pro, id_tip_nf) VALUES (30, 'BALCAO', 6, 60, 60, 60, 2, 3),"
          " (40, 'HOSPEDE', 5, 50, 51, 52, 8, 9), (41, 'X', 999, 50, 50, 50, 1, 1)");
  const DatabaseSession::Statement read = SaleCustomersStatement(db.session, {30, 40, 41, 42});
  Recordset rs = db.session.Query(read.text, read.values);
  const auto customers = ReadSaleCustomers(rs, customer);
  ASSERT_EQ(customers.size(), 2u);
  EXPECT_EQ(customers.at(30).name, "CONSUMIDOR FINAL");
  const CustomerRecord& guest = customers.at(40);
  EXPECT_EQ(guest.name + "|" + guest.person + "|" + guest.establishment + "|" + guest.delivery_address + "|" +
                guest.product_use + "|" + guest.invoice_type + "|" + guest.ipi_contributor,
            "HOSPEDE|2|5|51|8|9|N");
  CustomerRecord one;
  EXPECT_TRUE(LoadSaleCustomer(db.session, customer, 40, one));
  EXPECT_EQ(one.name, "HOSPEDE");
  EXPECT_FALSE(LoadSaleCustomer(db.session, customer, 41, one));
}

TEST_F(CustomerTest, ComandaWithoutPersonTakesTheLowestEstablishment) {
  customer.product_use = "2";
  customer.invoice_type = "3";
  ASSERT_TRUE(LoadComandaCustomer(db.session, db.op, customer, InputValue(), InputValue()));
  EXPECT_EQ(customer.establishment, "5");
  EXPECT_EQ(customer.name, "JOAO");
  EXPECT_EQ(customer.person, "2");
  EXPECT_EQ(customer.billing_address, "50");
  EXPECT_EQ(customer.collection_address, "50");
  EXPECT_EQ(customer.state, "35");
  EXPECT_EQ(customer.company_type, "4");
  EXPECT_EQ(customer.product_use, "2");
  EXPECT_EQ(customer.invoice_type, "3");

  ASSERT_TRUE(LoadComandaCustomer(db.session, db.op, customer, "", "3"));
  EXPECT_EQ(customer.name, "MARIA");
  EXPECT_EQ(customer.establishment, "7");
  EXPECT_EQ(customer.state, "33");
  EXPECT_EQ(customer.municipality, "3304557");
  EXPECT_TRUE(db.op.messages.empty());
}

TEST_F(CustomerTest, ComandaWithSaleTakesTheSalesCustomer) {
  db.Exec("INSERT INTO venda_direta (nr_orc_loc, nm_pes_cli, id_etb_cli, id_end_geo_fat, id_end_geo_etg,"
          " id_end_geo_cob, id_uti_pro, id_tip_nf) VALUES (42, 'MARIA CARTAO', 7, 70, 71, 72, 9, 6)");
  customer.requesting_user = "5";
  ASSERT_TRUE(LoadComandaCustomer(db.session, db.op, customer, 42, "2"));
  EXPECT_EQ(customer.name, "MARIA CARTAO");
  EXPECT_EQ(customer.person, "3");
  EXPECT_EQ(customer.establishment, "7");
  EXPECT_EQ(customer.billing_address, "70");
  EXPECT_EQ(customer.delivery_address, "71");
  EXPECT_EQ(customer.collection_address, "72");
  EXPECT_EQ(customer.product_use, "9");
  EXPECT_EQ(customer.invoice_type, "6");
  EXPECT_EQ(customer.state, "33");
  EXPECT_EQ(customer.requesting_user, "");
}

TEST_F(CustomerTest, ComandaCustomerNotFound) {
  customer.ipi_contributor = "S";
  customer.product_use = "2";
  EXPECT_FALSE(LoadComandaCustomer(db.session, db.op, customer, InputValue(), "999"));
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].text, "Cliente não encontrado relacionado a esta comanda/cartão");
  EXPECT_EQ(db.op.messages[0].title, "AVISO");
  EXPECT_EQ(customer.establishment, "0");
  EXPECT_EQ(customer.product_use, "0");
  EXPECT_EQ(customer.ipi_contributor, "S");

  EXPECT_THROW(LoadComandaCustomer(db.session, db.op, customer, InputValue(), "1 or 1=1"), DatabaseError);
  EXPECT_THROW(LoadComandaCustomer(db.session, db.op, customer, "42; DELETE FROM pessoa", ""), DatabaseError);
  EXPECT_EQ(db.Scalar("SELECT count(*) FROM pessoa"), "3");
}

TEST_F(CustomerTest, MissingTableIsAnErrorForTheCaller) {
  db.Exec("DROP TABLE consumidor");
  EXPECT_THROW(LoadConsumerCustomer(db.session, db.op, customer), DatabaseError);
  EXPECT_TRUE(db.op.messages.empty());
}

}  // namespace
}  // namespace orba::test
