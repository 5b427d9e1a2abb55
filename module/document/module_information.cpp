#include "document/module_information.hpp"

namespace wmi::document {

namespace {

// Members in the order hosts expect: MetaData, Sensors, Sections, Groups, Revision, MetaScans,
// Checks, Lookups, Text. The kinds, settings and translations are filled in as they are built.
constexpr const char* document_text = R"json({
  "MetaData": {
    "Vendor": "zarvel",
    "Name": "wmi",
    "Contact": "monitoring-support@zarvel.example",
    "Version": "1.21.0.22799",
    "Display": "WMI",
    "Description": "Monitoring module to bundle WMI-related sensors."
  },
  "Sensors": {},
  "Sections": {},
  "Groups": {},
  "Revision": 15,
  "MetaScans": {},
  "Checks": {},
  "Lookups": {},
  "Text": {}
})json";

}  // namespace

const std::string& module_information() {
    static const std::string document(document_text);
    return document;
}

}  // namespace wmi::document
