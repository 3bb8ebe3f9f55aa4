#pragma once

#include <cstddef>
#include <string>
#include <vector>

class IndexerHost;
class TCustomComPort;

// The indexer command exchange: queries, the scan of a daisy-chained line, the L-parameter
// and program uploads, and the L-parameter names. Each dialogue writes its commands and
// collects the replies itself with fixed waits, on the main window's open port.

// What the identification of a unit-query reply found.
enum class IdentifyOutcome { Recognised, TypeLetterUnknown, StepResolutionUnknown, NotApplicable };

struct IndexerIdentity {
  int stepResolution = 0;
  IdentifyOutcome outcome = IdentifyOutcome::NotApplicable;
  std::string typeText;      // "New red label Indexer" (recognised only)
  std::string familyPrefix;  // "MU-" or "XMU-" (recognised only)
  // The proposed file-name stem: family prefix and step resolution ("MU-1").
  std::string FileStem() const { return familyPrefix + std::to_string(stepResolution); }
};

// Unit query "H23": the filtered reply without its first "=" (empty when nothing answers).
std::string QueryUnitId(TCustomComPort& port);
// Revision query ESC "REV": the filtered reply.
std::string QueryRevision(TCustomComPort& port);
// Reads L70 and returns 0, 1, 2, 5, 10 or 125.
int QueryStepResolution(TCustomComPort& port);
// The step resolution a filtered L70 reply names (0 when it does not name L70).
int StepResolutionOf(const std::string& reply);
// Sets SoftwareRev from `reply`, finds the step resolution (asking L70 unless the brand
// word is in the reply) and, for unit types 4 and 5, the unit's kind.
IndexerIdentity IdentifyIndexer(TCustomComPort& port, const std::string& reply);

// Probes addresses 1 to 99, fills the units list and selects the last unit found.
void ScanForIndexers(IndexerHost& host);
// The number a probe reply reads as: digits after optional blanks and a sign, else 0.
long long ProbeNumber(const std::string& filtered);

// Number of lines with an "L" read by the last L-parameter upload.
extern int LParamCount;
inline constexpr const char* kLParamFileName = "LPARAM.TXT";
// Uploads the selected unit's L parameters into LParamList and LPARAM.TXT.
void ReadLParameters(IndexerHost& host);
// The 32-character description of parameter L`n`.
std::string LParamName(int n);

// Uploads the selected unit's program (with its L parameters first when asked) and offers
// to save it.
void ReadProgram(IndexerHost& host, bool withParameters);

// Asks for a program file, reads the selected unit's program back and compares the two; the
// result goes to the status bar, every differing line to its detail.
void VerifyProgramFile(IndexerHost& host);

// Writes `lines`, each ended by CR LF, to `path` through a temporary file that replaces the
// old one only once complete; raises an error naming the file when that fails.
void SaveLines(const std::string& path, const std::vector<std::string>& lines);

// The names the transfers' status-bar results use: the file name without its folder, the
// whole path (as given when it cannot be made absolute), and "1 line" / "N lines".
std::string FileNameOf(const std::string& path);
std::string AbsolutePath(const std::string& path);
std::string LinesText(std::size_t count);
