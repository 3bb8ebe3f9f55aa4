#include "Config.h"

#include <cmath>
#include <functional>
#include <initializer_list>
#include <map>
#include <utility>

#include "Drive.h"
#include "Indexer.h"
#include "Text.h"

namespace kvel::sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void Fail(const std::string& what) {
  throw ConfigError(what);
}

long long Integer(const std::string& key, const std::string& value, long long lo, long long hi) {
  long long v = 0;
  if (!ParseInt(value, &v) || v < lo || v > hi) {
    Fail(key + ": '" + value + "' is not a number from " + std::to_string(lo) + " to " +
         std::to_string(hi));
  }
  return v;
}

Micros Millis(const std::string& key, const std::string& value) {
  double v = 0;
  if (!ParseNumber(value, &v) || v < 0 || v > 3'600'000) {
    Fail(key + ": '" + value + "' is not a time in milliseconds");
  }
  return static_cast<Micros>(std::llround(v * 1000.0));
}

double Real(const std::string& key, const std::string& value) {
  double v = 0;
  if (!ParseNumber(value, &v)) Fail(key + ": '" + value + "' is not a number");
  return v;
}

// A bit string, rightmost character = bit 0.
std::uint32_t BitString(const std::string& key, const std::string& value, std::size_t maxBits) {
  if (value.empty() || value.size() > maxBits) Fail(key + ": '" + value + "' is not a bit string");
  std::uint32_t bits = 0;
  for (char c : value) {
    if (c != '0' && c != '1') Fail(key + ": '" + value + "' is not a bit string");
    bits = (bits << 1) | (c == '1' ? 1u : 0u);
  }
  return bits;
}

void SplitKeyValue(const std::string& word, std::string* key, std::string* value) {
  const std::size_t eq = word.find('=');
  *key = eq == std::string::npos ? word : word.substr(0, eq);
  *value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
}

// Hands each KEY=VALUE word of a statement, from `first` on, to `read` in the order written.
template <typename Read>
void ForEachKeyValue(const std::vector<std::string>& words, std::size_t first, Read read) {
  for (std::size_t i = first; i < words.size(); ++i) {
    std::string key;
    std::string value;
    SplitKeyValue(words[i], &key, &value);
    read(key, value);
  }
}

// The KEY=VALUE settings one statement accepts, each bound to the field its value goes to.
// Values are checked and stored word by word, so the first bad word is the one reported.
class Settings {
 public:
  using Reader = std::function<void(const std::string& key, const std::string& value)>;

  // `unknown` starts the message for a key the statement does not have.
  explicit Settings(std::string unknown) : unknown_(std::move(unknown)) {}

  Settings& Custom(const char* key, Reader read) {
    readers_.emplace(key, std::move(read));
    return *this;
  }
  // A key on its own; any value after it is ignored.
  Settings& Flag(const char* key, bool* to) {
    return Custom(key, [to](const std::string&, const std::string&) { *to = true; });
  }
  // Keys whose values are texts, taken as written.
  Settings& Texts(std::initializer_list<std::pair<const char*, std::string*>> keys) {
    for (const auto& [key, to] : keys) {
      Custom(key, [to](const std::string&, const std::string& value) { *to = value; });
    }
    return *this;
  }
  Settings& Time(const char* key, Micros* to) {
    return Custom(key, [to](const std::string& k, const std::string& v) { *to = Millis(k, v); });
  }
  Settings& Decimal(const char* key, double* to) {
    return Custom(key, [to](const std::string& k, const std::string& v) { *to = Real(k, v); });
  }
  Settings& Bits(const char* key, std::uint32_t* to, std::size_t maxBits) {
    return Custom(key, [to, maxBits](const std::string& k, const std::string& v) {
      *to = BitString(k, v, maxBits);
    });
  }
  template <typename Int>
  Settings& Whole(const char* key, Int* to, long long lo, long long hi) {
    return Custom(key, [to, lo, hi](const std::string& k, const std::string& v) {
      *to = static_cast<Int>(Integer(k, v, lo, hi));
    });
  }

  void Read(const std::vector<std::string>& words, std::size_t first) const {
    ForEachKeyValue(words, first, [this](const std::string& key, const std::string& value) {
      const auto it = readers_.find(key);
      if (it == readers_.end()) Fail(unknown_ + key + "'");
      it->second(key, value);
    });
  }

 private:
  std::string unknown_;
  std::map<std::string, Reader, std::less<>> readers_;
};

// The settings every unit statement has besides its own: how many requests the unit answers,
// and how long it takes to answer (-1 leaves the line's delay).
Settings UnitSettings(std::string unknown, int* silentAfter, Micros* delay) {
  Settings settings(std::move(unknown));
  settings.Whole("silent-after", silentAfter, 0, 100000000).Time("reply-delay", delay);
  return settings;
}

// The type a statement names, looked up by its upper-case spelling; `unknown` starts the
// message for a name not in the table.
template <typename Type>
Type NamedType(const std::string& unknown, const std::string& word,
               std::initializer_list<std::pair<const char*, Type>> names) {
  const std::string upper = Upper(word);
  for (const auto& [name, type] : names) {
    if (upper == name) return type;
  }
  Fail(unknown + word + "'");
}

int Address(const std::string& word) {
  return static_cast<int>(Integer("address", word, 1, 99));
}

// The unit a statement names on a line: an address, or "drive" for the line's drive;
// `missing` starts the message for one the line does not have.
Controller& NamedUnit(const LineConfig& lc, const std::string& missing, const std::string& word) {
  Controller* unit = word == "drive" ? lc.line->Find(0) : lc.line->Find(Address(word));
  if (unit == nullptr) Fail(missing + word + " on " + lc.port);
  return *unit;
}

// store-line=N:TEXT
void StoreLineAs(std::map<int, std::string>& storedAs, const std::string& key,
                 const std::string& value) {
  const std::size_t colon = value.find(':');
  if (colon == std::string::npos || colon + 1 >= value.size()) {
    Fail("store-line: needs a line number and the text, as store-line=3:\"N003 G01 X9\"");
  }
  const int n = static_cast<int>(Integer(key, value.substr(0, colon), 1, Indexer::kMaxLineNumber));
  storedAs[n] = value.substr(colon + 1);
}

void ApplyFaults(Faults& f, const std::vector<std::string>& w, std::size_t first) {
  Settings("unknown fault '")
      .Flag("silent", &f.silent)
      .Flag("busy", &f.busy)
      .Time("slow", &f.extraDelayUs)
      .Time("ack-delay", &f.ackDelayUs)
      .Whole("no-ack-after-line", &f.noAckAfterLine, 0, Indexer::kMaxLineNumber)
      .Flag("no-ack-h12", &f.noAckH12)
      .Whole("cut", &f.cutReplyTo, 1, 10000)
      .Custom("noise",
              [&f](const std::string&, const std::string& value) {
                if (value.empty()) Fail("noise: needs the bytes to send");
                f.noise = value;
              })
      .Whole("answer-after", &f.answerAfter, 0, 1000000)
      .Whole("silent-after", &f.silentAfter, 0, 1000000)
      .Time("silent-from", &f.silentFromUs)
      .Time("busy-until", &f.busyUntilUs)
      .Whole("silent-after-line", &f.silentAfterLine, 0, Indexer::kMaxLineNumber)
      .Custom("store-line",
              [&f](const std::string& k, const std::string& v) { StoreLineAs(f.storedAs, k, v); })
      .Read(w, first);
}

// reply ADDR|drive "COMMAND" "BYTES" [uses=N] [from=MS] [pause-at=K pause=MS]
void ApplyScriptedReply(LineConfig& lc, const std::vector<std::string>& w) {
  if (w.size() < 4) Fail("reply needs a unit, a command and the reply bytes");
  Controller& unit = NamedUnit(lc, "reply: no unit ", w[1]);
  ScriptedReply scripted;
  scripted.command = w[2];
  scripted.bytes = w[3];
  Settings("reply: unknown setting '")
      .Whole("uses", &scripted.uses, 1, 100000000)
      .Time("from", &scripted.fromUs)
      .Whole("pause-at", &scripted.pauseAt, 0, 100000)
      .Time("pause", &scripted.pauseUs)
      .Read(w, 4);
  unit.scriptedReplies().push_back(std::move(scripted));
}

}  // namespace

std::vector<std::string> SplitStatement(const std::string& statement) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (std::size_t i = 0; i < statement.size(); ++i) {
    const char c = statement[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < statement.size()) {
        const char e = statement[++i];
        switch (e) {
          case 'r':
            word += '\r';
            break;
          case 'n':
            word += '\n';
            break;
          case 'e':
            word += '\x1b';
            break;
          case 't':
            word += '\t';
            break;
          case 'x': {
            const int hi = i + 1 < statement.size() ? HexDigit(statement[i + 1]) : -1;
            const int lo = i + 2 < statement.size() ? HexDigit(statement[i + 2]) : -1;
            if (hi < 0 || lo < 0) Fail("bad \\x escape in: " + statement);
            word += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
          }
          default:
            word += e;
        }
      } else {
        word += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '"') {
      quoted = true;
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) Fail("unterminated quote in: " + statement);
  if (inWord) words.push_back(word);
  return words;
}

LineConfig& SimConfig::CurrentLine() {
  if (lines.empty()) Apply("line COM1");
  return lines.back();
}

void SimConfig::Apply(const std::string& statement) {
  const std::vector<std::string> w = SplitStatement(statement);
  if (w.empty()) return;
  const std::string& verb = w[0];
  if (verb == "demo") {
    if (w.size() > 1) Fail("demo takes no arguments");
    AddDemo();
  } else if (verb == "line") {
    if (w.size() < 2 || !Upper(w[1]).starts_with("COM")) Fail("line needs a port name like COM1");
    const std::string port = Upper(w[1]);
    Integer("port number", port.substr(3), 1, 255);
    for (const LineConfig& l : lines) {
      if (l.port == port) Fail("line " + port + " is described twice");
    }
    auto line = std::make_unique<Line>();
    int select = -1;
    Settings("line: unknown setting '")
        .Custom("baud",
                [&line](const std::string& key, const std::string& value) {
                  line->timing().byteUs = Timing::ByteTimeForBaud(
                      static_cast<std::uint32_t>(Integer(key, value, 50, 4000000)));
                })
        .Whole("byte-us", &line->timing().byteUs, 0, 1000000)
        .Time("reply-delay", &line->timing().replyDelayUs)
        .Whole("select", &select, 0, 99)
        .Time("gone-after", &line->faults().goneAtUs)
        .Whole("gone-after-requests", &line->faults().goneAfterRequests, 1, 100000000)
        .Read(w, 2);
    lines.push_back({port, std::move(line)});
    if (select >= 0) lines.back().line->SetAddressed(select);
  } else if (verb == "indexer") {
    if (w.size() < 3) Fail("indexer needs an address and a type (mu, xmu, qn4100i)");
    const int address = Address(w[1]);
    IndexerSetup setup;
    setup.type = NamedType<IndexerType>(
        "indexer: unknown type '", w[2],
        {{"MU", IndexerType::MU}, {"XMU", IndexerType::XMU}, {"QN4100I", IndexerType::QN4100I}});
    Micros delay = -1;
    UnitSettings("indexer: unknown setting '", &setup.silentAfter, &delay)
        .Texts({{"id", &setup.id},
                {"rev", &setup.revision},
                {"h85", &setup.h85},
                {"h86", &setup.h86},
                {"h87", &setup.h87},
                {"input-reply", &setup.inputReply},
                {"autotest-reply", &setup.autoTestReply}})
        .Custom("probe",
                [&setup](const std::string& key, const std::string& value) {
                  if (value == "ready") {
                    setup.probe = ProbeStyle::Ready;
                  } else if (value == "busy") {
                    setup.probe = ProbeStyle::Busy;
                  } else if (value == "number" || value.starts_with("number:")) {
                    setup.probe = ProbeStyle::Numbered;
                    if (value.size() > 7) {
                      setup.probeNumber =
                          static_cast<int>(Integer(key, value.substr(7), -999, 99999));
                    }
                  } else {
                    Fail("probe: '" + value + "' is not ready, busy or number[:N]");
                  }
                })
        .Bits("inputs", &setup.inputs, 16)
        .Whole("autotest", &setup.autoTestResult, 0, 999)
        .Time("erase", &setup.eraseUs)
        .Time("autotest-time", &setup.autoTestUs)
        .Read(w, 3);
    LineConfig& lc = CurrentLine();
    if (lc.line->Find(0) != nullptr) {
      Fail("indexer " + std::to_string(address) + ": " + lc.port +
           " has a drive, which answers every command; put the indexer on a line of its own");
    }
    if (lc.line->Find(address) != nullptr) {
      Fail("indexer " + std::to_string(address) + " is on " + lc.port + " twice");
    }
    Controller& unit = lc.line->Add(std::make_unique<Indexer>(address, setup));
    unit.SetReplyDelayUs(delay);
  } else if (verb == "param" || verb == "program") {
    if (w.size() < 3) Fail(verb + " needs an address and a value");
    const int address = Address(w[1]);
    auto* unit = dynamic_cast<Indexer*>(CurrentLine().line->Find(address));
    if (unit == nullptr) Fail(verb + ": no indexer " + w[1] + " on " + CurrentLine().port);
    if (verb == "param") {
      ForEachKeyValue(w, 2, [unit](std::string key, const std::string& value) {
        if (!key.empty() && (key[0] == 'L' || key[0] == 'l')) key = key.substr(1);
        const int n = static_cast<int>(Integer("parameter", key, 0, 99));
        unit->SetParam(n, static_cast<int>(Integer("L" + key, value, -99999999, 999999999)));
      });
    } else {
      // The program text is the statement after its address, as written.
      const std::size_t at = statement.find(w[1], statement.find("program") + 7) + w[1].size();
      if (!unit->StoreProgramLine(Trim(statement.substr(at)))) {
        Fail("program: a line must start with its number, like N001");
      }
    }
  } else if (verb == "drive") {
    if (w.size() < 2) Fail("drive needs a type (zorv, grv)");
    DriveSetup setup;
    setup.type = NamedType<DriveType>("drive: unknown type '", w[1],
                                      {{"ZORV", DriveType::ZorvDrive},
                                       {"ZORVDRIVE", DriveType::ZorvDrive},
                                       {"GRV", DriveType::GRV}});
    Micros delay = -1;
    UnitSettings("drive: unknown setting '", &setup.silentAfter, &delay)
        .Bits("inputs", &setup.inputs, 19)
        .Bits("outputs", &setup.outputs, 8)
        .Whole("bcd", &setup.bcd, -9999999, 9999999)
        .Decimal("encoder", &setup.encoder)
        .Decimal("analog", &setup.analog)
        .Whole("error", &setup.error, 0, 9999)
        .Texts({{"bcd-reply", &setup.bcdReply},
                {"analog-reply", &setup.analogReply},
                {"error-reply", &setup.errorReply}})
        .Read(w, 2);
    LineConfig& lc = CurrentLine();
    if (!lc.line->Units().empty()) Fail("drive: " + lc.port + " already has a unit");
    lc.line->Add(std::make_unique<Drive>(setup)).SetReplyDelayUs(delay);
  } else if (verb == "fault") {
    if (w.size() < 3) Fail("fault needs a unit (an address or 'drive') and a fault");
    ApplyFaults(NamedUnit(CurrentLine(), "fault: no unit ", w[1]).faults(), w, 2);
  } else if (verb == "reply") {
    ApplyScriptedReply(CurrentLine(), w);
  } else {
    Fail("unknown statement '" + verb + "'");
  }
}

void SimConfig::ApplyText(const std::string& text, const std::string& origin) {
  std::size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string statement = text.substr(start, end - start);
    ++number;
    start = end + 1;
    if (!statement.empty() && statement.back() == '\r') statement.pop_back();
    const std::string trimmed = Trim(statement);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    try {
      Apply(trimmed);
    } catch (const ConfigError& e) {
      throw ConfigError(origin + ":" + std::to_string(number) + ": " + e.what());
    }
  }
}

void SimConfig::AddDemo() {
  ApplyText(R"(line COM1
indexer 1 xmu inputs=00000101 h85=00100000 h87=12
program 1 N001 G01 F2000 X4000
program 1 N002 G04 F500
program 1 N003 G01 X-4000
program 1 N004 G25 N001
indexer 3 qn4100i inputs=1000000000000011
indexer 12 mu id="I MU V1.4" probe=number:5
param 12 70=10
program 12 N001 G01 X250
line COM2
drive zorv inputs=10100000000000101 outputs=00000101 bcd=1234 encoder=123.456 analog=2.5 error=12
line COM3
drive grv inputs=1000000000010000011 bcd=-42 analog=-1.25
)",
            "demo");
}

std::string SimConfig::StatementHelp() {
  return R"(Statements (one per line in a file; '#' starts a comment; times in ms):
  line COM<n> [baud=9600] [byte-us=N] [reply-delay=2] [select=ADDR]
              [gone-after=MS] [gone-after-requests=N]
      starts a line; the units below it are on it
  indexer ADDR mu|xmu|qn4100i [id="TEXT"] [rev="TEXT"] [probe=ready|busy|number[:N]]
              [inputs=BITS] [h85=TEXT] [h86=TEXT] [h87=TEXT] [autotest=CODE]
              [erase=250] [reply-delay=MS] [input-reply="TEXT"] [autotest-reply="TEXT"]
              [autotest-time=300] [silent-after=N]
      an indexer at address 1..99; id is the unit-query text, type letter first; the
      -reply texts replace the H21 and Z79 answers; silent-after=N answers N requests only
  param ADDR N=VALUE ...          sets L parameters (L26 = command acknowledge)
  program ADDR N001 G01 X100      stores a program line
  drive zorv|grv [inputs=BITS] [outputs=BITS] [bcd=N] [encoder=X] [analog=VOLTS]
              [error=N] [reply-delay=MS] [bcd-reply="TEXT"] [analog-reply="TEXT"]
              [error-reply="TEXT"] [silent-after=N]
      a drive; bit strings have input or output 1 on the right
  fault ADDR|drive silent | busy | slow=MS | ack-delay=MS | no-ack-after-line=K |
              no-ack-h12 | cut=BYTES | noise="BYTES" | answer-after=N |
              silent-after=N | silent-from=MS | busy-until=MS |
              silent-after-line=K | store-line=N:"TEXT"
      silent-after-line: from the program line after the k-th since H12 on, nothing at
      all is answered until the next H12; store-line: program line N is stored (and
      listed back) as TEXT
  reply ADDR|drive "COMMAND" "BYTES" [uses=N] [from=MS] [pause-at=K pause=MS]
      answers COMMAND (as the unit sees it, without its line end) with exactly BYTES,
      optionally pausing before byte K; the unit still carries the command out
  demo                            indexers 1, 3, 12 on COM1, ZorvDrive on COM2, GRV on COM3
Quoted texts know \r \n \e \t \\ \" and \xHH.
)";
}

}  // namespace kvel::sim
