#pragma once

#include <optional>
#include <string>

namespace orba {

// The customer that new sales copy. Each load overwrites it. Ids are kept as
// text ("" for Null) because they go into statements as they were read.
struct CustomerRecord {
  std::string name;               // nm_pes_cpl / nm_pes_cli
  std::string person;             // id_pes
  std::string state;              // id_uf
  std::string municipality;       // id_mun
  std::string product_use;        // id_uti_pro
  std::string billing_address;    // id_end_geo_fat
  std::string delivery_address;   // id_end_geo_etg
  std::string collection_address; // id_end_geo_cob
  std::string company_type;       // id_tip_emp
  std::string establishment;      // id_etb_cli
  std::string invoice_type;       // id_tip_nf
  std::string ipi_contributor;    // ic_ctb_ipi, "S" or "N"
  std::string requesting_user;    // id_usu_req of a new sale
};

}  // namespace orba
