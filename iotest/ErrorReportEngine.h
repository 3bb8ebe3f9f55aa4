#pragma once

#include <functional>
#include <string>
#include <vector>

class TCustomComPort;

// What the error registers of an MU / XMU (unit type 5) or QN4100I (unit type 4) indexer
// said, decoded.
struct ErrorReport {
  int unitType = 0;
  std::string id;                     // the unit query's reply (types 4 and 5)
  std::string h85, h86, h87;          // filtered, "=" removed, padded as the type wants
  std::string axis;                   // type 4: the first character of H85
  std::vector<std::string> h85Flags;  // the texts of the set flags, in order
  std::vector<std::string> h86Flags;
};

// Reads H85, H86 and H87 and decodes them. `queryUnitId` runs the unit query for the heading
// (types 4 and 5 only); `display` receives each text of the report as the terminal shows it
// ("Reporting XMU ... error -", "H85 : ...", the flags ...), the heading before the
// registers are read. Port errors are raised.
ErrorReport RunXmuErrorReport(TCustomComPort& port, int unitType,
                              const std::function<std::string()>& queryUnitId,
                              const std::function<void(const std::string&)>& display);
