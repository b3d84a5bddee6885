#include "config/slot_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <set>
#include <vector>

#include "config/console.h"
#include "config/mcs_table.h"
#include "config/slot_config_gen.h"

namespace {

constexpr uint16_t kMaxCarrierRb = 145;  // N = 2048, the largest FFT the buffers hold
constexpr int kPortBase = 1000;
constexpr uint8_t kPortListEnd = 0xFF;
constexpr size_t kMaxFileBytes = 1 << 20;  // a slot description is a few kilobytes

// The first problem found, as "NAME:LINE:COLUMN: key: what was expected".
struct Reader {
  const char* name;
  bool failed = false;

  bool fail(const YAML::Mark& at, const std::string& key, const std::string& what) {
    if (failed) return false;
    failed = true;
    if (at.is_null())
      nrDiag("%s: %s: %s\n", name, key.c_str(), what.c_str());
    else
      nrDiag("%s:%d:%d: %s: %s\n", name, at.line + 1, at.column + 1, key.c_str(), what.c_str());
    return false;
  }

  bool isMap(const YAML::Node& n, const std::string& key) {
    return n.IsMap() || fail(n.Mark(), key, "expected a mapping of keys");
  }

  // Every key of map is one of allowed.
  bool keys(const YAML::Node& map, const std::string& path,
            std::initializer_list<const char*> allowed) {
    for (const auto& kv : map) {
      const std::string k = kv.first.IsScalar() ? kv.first.Scalar() : std::string("?");
      bool known = false;
      for (const char* a : allowed) known = known || k == a;
      if (!known) {
        std::string list;
        for (const char* a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
        return fail(kv.first.Mark(), path + k, "unknown key (expected one of: " + list + ")");
      }
    }
    return true;
  }

  // A decimal integer within lo..hi.
  bool integer(const YAML::Node& n, const std::string& key, int64_t lo, int64_t hi, int64_t* out) {
    if (!n.IsScalar()) return fail(n.Mark(), key, "expected an integer");
    const std::string& s = n.Scalar();
    int64_t v = 0;
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, v);
    if (s.empty() || r.ec != std::errc() || r.ptr != end)
      return fail(n.Mark(), key, "expected an integer, found \"" + s + "\"");
    if (v < lo || v > hi)
      return fail(n.Mark(), key,
                  s + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    *out = v;
    return true;
  }

  bool number(const YAML::Node& n, const std::string& key, double* out) {
    if (!n.IsScalar()) return fail(n.Mark(), key, "expected a number");
    const std::string& s = n.Scalar();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
      return fail(n.Mark(), key, "expected a number, found \"" + s + "\"");
    *out = v;
    return true;
  }

  // A sequence of at most maxN integers within lo..hi.
  bool intList(const YAML::Node& n, const std::string& key, int64_t lo, int64_t hi, size_t maxN,
               std::vector<int64_t>* out) {
    if (!n.IsSequence()) return fail(n.Mark(), key, "expected a list of integers [a, b, ...]");
    if (n.size() > maxN) return fail(n.Mark(), key, "at most " + std::to_string(maxN) + " entries");
    out->clear();
    for (size_t i = 0; i < n.size(); i++) {
      int64_t v = 0;
      if (!integer(n[i], key + "[" + std::to_string(i) + "]", lo, hi, &v)) return false;
      out->push_back(v);
    }
    return true;
  }
};

// The derived values the file states for an entry equal those of the transmitter.
bool checkDerived(Reader& rd, const YAML::Node& x, const std::string& xa,
                  const NrSlotDerived& want) {
  if (!rd.isMap(x, xa) ||
      !rd.keys(x, xa + ".", {"qm", "codeRate", "tbs", "codeBlocks", "codedBits"}))
    return false;
  const auto same = [&](const char* key, int64_t have, int64_t should) {
    if (have == should) return true;
    return rd.fail(x[key].Mark(), xa + "." + key,
                   std::to_string(have) + " differs from this allocation's " +
                       std::to_string(should) + " (correct it or leave it out)");
  };
  int64_t v = 0;
  if (x["qm"] && (!rd.integer(x["qm"], xa + ".qm", 0, 8, &v) || !same("qm", v, want.qm)))
    return false;
  if (x["tbs"] &&
      (!rd.integer(x["tbs"], xa + ".tbs", 0, INT32_MAX, &v) || !same("tbs", v, want.tbs)))
    return false;
  if (x["codeBlocks"] && (!rd.integer(x["codeBlocks"], xa + ".codeBlocks", 0, 1000, &v) ||
                          !same("codeBlocks", v, want.codeBlocks)))
    return false;
  if (x["codedBits"] && (!rd.integer(x["codedBits"], xa + ".codedBits", 0, INT64_MAX / 2, &v) ||
                         !same("codedBits", v, static_cast<int64_t>(want.codedBits))))
    return false;
  double rate = 0;
  if (x["codeRate"]) {
    if (!rd.number(x["codeRate"], xa + ".codeRate", &rate)) return false;
    const double should = static_cast<double>(want.rateX1024) / 1024.0;
    if (std::fabs(rate - should) > 1e-6)
      return rd.fail(
          x["codeRate"].Mark(), xa + ".codeRate",
          x["codeRate"].Scalar() + " differs from the MCS table's " + std::to_string(should));
  }
  return true;
}

// One PDSCH entry as the file states it; absent fields keep the entry's values.
bool readPdsch(Reader& rd, const YAML::Node& e, const std::string& at, const NrNbConfig& c,
               NrPdschCfg* d) {
  if (!rd.isMap(e, at) || !rd.keys(e, at + ".",
                                   {"rnti", "mcsTable", "mcs", "layers", "rv", "rbStart", "rbCount",
                                    "rbs", "symbolStart", "symbolCount", "dmrs", "derived"}))
    return false;
  int64_t v = 0;
  if (e["rnti"] && !rd.integer(e["rnti"], at + ".rnti", 0, 65535, &v)) return false;
  if (e["rnti"]) d->rnti = static_cast<uint32_t>(v);
  if (e["mcsTable"] && !rd.integer(e["mcsTable"], at + ".mcsTable", 1, 2, &v)) return false;
  if (e["mcsTable"]) d->mcsTable = static_cast<uint8_t>(v);
  const uint8_t table = d->mcsTable == kMcsTableQam64 ? kMcsTableQam64 : kMcsTableQam256;
  if (e["mcs"] && !rd.integer(e["mcs"], at + ".mcs", 0, nrMcsLastIndex(table), &v)) return false;
  if (e["mcs"]) d->mcs = static_cast<uint16_t>(v);
  if (d->mcs > nrMcsLastIndex(table))
    return rd.fail(e.Mark(), at + ".mcs",
                   std::to_string(d->mcs) + " is reserved in MCS table " + std::to_string(table));
  if (e["layers"] && !rd.integer(e["layers"], at + ".layers", 1, kMaxLayers, &v)) return false;
  if (e["layers"]) d->layerN = static_cast<uint8_t>(v);
  if (e["rv"] && !rd.integer(e["rv"], at + ".rv", 0, 3, &v)) return false;
  if (e["rv"]) d->rvIdx = static_cast<uint8_t>(v);

  // RBs: a contiguous run or an ascending list, inside the BWP.
  const int64_t bwpNrb = c.bwpCfg.nrb;
  if (e["rbs"] && (e["rbStart"] || e["rbCount"]))
    return rd.fail(e["rbs"].Mark(), at + ".rbs", "give either rbs or rbStart/rbCount, not both");
  if (e["rbs"]) {
    std::vector<int64_t> rbs;
    if (!rd.intList(e["rbs"], at + ".rbs", 0, bwpNrb - 1, kMaxRb, &rbs)) return false;
    if (rbs.empty()) return rd.fail(e["rbs"].Mark(), at + ".rbs", "at least one RB");
    for (size_t i = 1; i < rbs.size(); i++)
      if (rbs[i] <= rbs[i - 1])
        return rd.fail(e["rbs"][i].Mark(), at + ".rbs", "RBs must be listed in ascending order");
    d->rbN = static_cast<uint16_t>(rbs.size());
    for (size_t i = 0; i < rbs.size(); i++) d->rbIdx[i] = static_cast<uint16_t>(rbs[i]);
    d->rbStart = d->rbIdx[0];
  } else if (e["rbStart"] || e["rbCount"]) {
    int64_t start = d->rbStart, count = d->rbN;
    if (e["rbStart"] && !rd.integer(e["rbStart"], at + ".rbStart", 0, bwpNrb - 1, &start))
      return false;
    if (e["rbCount"] && !rd.integer(e["rbCount"], at + ".rbCount", 1, bwpNrb, &count)) return false;
    if (start + count > bwpNrb)
      return rd.fail((e["rbCount"] ? e["rbCount"] : e["rbStart"]).Mark(), at + ".rbCount",
                     "RBs " + std::to_string(start) + ".." + std::to_string(start + count - 1) +
                         " reach beyond the BWP's " + std::to_string(bwpNrb) + " RBs");
    d->rbStart = static_cast<uint16_t>(start);
    d->rbN = static_cast<uint16_t>(count);
    for (int64_t i = 0; i < count; i++) d->rbIdx[i] = static_cast<uint16_t>(start + i);
  }
  for (int i = 0; i < d->rbN; i++)
    if (d->rbIdx[i] >= bwpNrb)
      return rd.fail(e.Mark(), at,
                     "RB " + std::to_string(d->rbIdx[i]) + " lies beyond the BWP's " +
                         std::to_string(bwpNrb) + " RBs");

  // Symbols: one contiguous run.
  const uint16_t bits = d->symBitmap & 0x3FFF;
  int64_t first = bits ? __builtin_ctz(bits) : 0;
  int64_t count = bits ? 32 - __builtin_clz(bits) - first : 1;
  if (e["symbolStart"] && !rd.integer(e["symbolStart"], at + ".symbolStart", 0, 13, &first))
    return false;
  if (e["symbolCount"] && !rd.integer(e["symbolCount"], at + ".symbolCount", 1, 14, &count))
    return false;
  if (first + count > kSymbolsPerSlot)
    return rd.fail((e["symbolCount"] ? e["symbolCount"] : e["symbolStart"]).Mark(),
                   at + ".symbolCount",
                   "symbols " + std::to_string(first) + ".." + std::to_string(first + count - 1) +
                       " reach beyond the 14 of the slot");
  d->symBitmap = static_cast<uint16_t>(((1u << count) - 1) << first);
  const int64_t last = first + count - 1;

  // DMRS.
  const YAML::Node m = e["dmrs"];
  if (m) {
    const std::string ma = at + ".dmrs";
    if (!rd.isMap(m, ma) || !rd.keys(m, ma + ".",
                                     {"type", "firstSymbol", "additionalPositions", "ports",
                                      "cdmGroupsWithoutData", "scramblingId", "nScid"}))
      return false;
    if (m["type"] && !rd.integer(m["type"], ma + ".type", 1, 2, &v)) return false;
    if (m["type"]) d->dmrsType = static_cast<uint8_t>(v);
    if (m["firstSymbol"] && !rd.integer(m["firstSymbol"], ma + ".firstSymbol", 0, 13, &v))
      return false;
    if (m["firstSymbol"]) d->dmrsFirstSym = static_cast<uint8_t>(v);
    if (m["additionalPositions"]) {
      std::vector<int64_t> pos;
      if (!rd.intList(m["additionalPositions"], ma + ".additionalPositions", 0, 13, 3, &pos))
        return false;
      d->dmrsAddPosN = static_cast<uint8_t>(pos.size());
      for (size_t i = 0; i < pos.size(); i++) d->dmrsAddPos[i] = static_cast<uint8_t>(pos[i]);
    }
    if (m["ports"]) {
      std::vector<int64_t> ports;
      if (!rd.intList(m["ports"], ma + ".ports", kPortBase, kPortBase + 11, 12, &ports))
        return false;
      if (ports.empty()) return rd.fail(m["ports"].Mark(), ma + ".ports", "at least one port");
      std::memset(d->dmrsPortIdx, kPortListEnd, sizeof(d->dmrsPortIdx));
      for (size_t i = 0; i < ports.size(); i++)
        d->dmrsPortIdx[i] = static_cast<uint8_t>(ports[i] - kPortBase);
      for (int i = 0; i < 4; i++)
        d->dmrsPorts[i] = i < static_cast<int>(ports.size()) ? static_cast<uint16_t>(ports[i]) : 0;
    }
    if (m["cdmGroupsWithoutData"] &&
        !rd.integer(m["cdmGroupsWithoutData"], ma + ".cdmGroupsWithoutData", 1, 3, &v))
      return false;
    if (m["cdmGroupsWithoutData"]) d->cdmGrpNoData = static_cast<uint8_t>(v);
    if (m["scramblingId"] && !rd.integer(m["scramblingId"], ma + ".scramblingId", 0, 65535, &v))
      return false;
    if (m["scramblingId"]) d->dmrsScrId0 = static_cast<uint16_t>(v);
    if (m["nScid"] && !rd.integer(m["nScid"], ma + ".nScid", 0, 3, &v)) return false;
    if (m["nScid"]) d->dmrsScrId1 = static_cast<uint16_t>(v);
  }
  d->dmrsEn = 1;
  const YAML::Mark dm = m ? m.Mark() : e.Mark();
  const std::string da = at + ".dmrs";

  // The DMRS symbols inside the allocation, ascending.
  if (d->dmrsFirstSym < first || d->dmrsFirstSym > last)
    return rd.fail(m && m["firstSymbol"] ? m["firstSymbol"].Mark() : dm, da + ".firstSymbol",
                   "DMRS symbol " + std::to_string(d->dmrsFirstSym) +
                       " lies outside the PDSCH symbols " + std::to_string(first) + ".." +
                       std::to_string(last));
  for (int i = 0; i < d->dmrsAddPosN; i++) {
    const int prev = i == 0 ? d->dmrsFirstSym : d->dmrsAddPos[i - 1];
    if (d->dmrsAddPos[i] <= prev || d->dmrsAddPos[i] > last)
      return rd.fail(m && m["additionalPositions"] ? m["additionalPositions"].Mark() : dm,
                     da + ".additionalPositions",
                     "additional DMRS symbol " + std::to_string(d->dmrsAddPos[i]) +
                         " must follow the DMRS symbols before it and lie inside the PDSCH "
                         "symbols " +
                         std::to_string(first) + ".." + std::to_string(last));
  }

  // Ports: valid for the type, distinct, at least one per layer; two layers on one CDM group's
  // port pair (the receiver separates them by the frequency cover); the CDM groups without data
  // cover every listed port's group (TS 38.214 5.1.6.2).
  const int maxPort = d->dmrsType == 1 ? 8 : 12;
  std::set<int> seen;
  int portN = 0;
  int maxGroup = 0;
  while (portN < 12 && d->dmrsPortIdx[portN] != kPortListEnd) {
    const int p = d->dmrsPortIdx[portN];
    if (p >= maxPort || !seen.insert(p).second)
      return rd.fail(
          dm, da + ".ports",
          "port " + std::to_string(kPortBase + p) +
              (p >= maxPort ? " does not exist for DMRS type " + std::to_string(d->dmrsType) +
                                  " (1000.." + std::to_string(kPortBase + maxPort - 1) + ")"
                            : " is listed twice"));
    const int group = d->dmrsType == 1 ? (p / 2) % 2 : (p / 2) % 3;
    if (group > maxGroup) maxGroup = group;
    portN++;
  }
  if (portN < d->layerN)
    return rd.fail(dm, da + ".ports",
                   std::to_string(d->layerN) + " layers need at least as many ports, " +
                       std::to_string(portN) + " listed");
  if (d->layerN == 2 && (d->dmrsPortIdx[0] % 2 != 0 || d->dmrsPortIdx[1] != d->dmrsPortIdx[0] + 1))
    return rd.fail(dm, da + ".ports",
                   "two layers take a port pair of one CDM group (1000, 1001 or 1002, 1003, ...)");
  if (d->cdmGrpNoData < maxGroup + 1)
    return rd.fail(dm, da + ".cdmGroupsWithoutData",
                   std::to_string(d->cdmGrpNoData) + " does not cover CDM group " +
                       std::to_string(maxGroup) + " of the listed ports");

  d->Qm = nrMcsQm(table, d->mcs);
  d->codeRate = static_cast<uint16_t>(2.0f * nrMcsRateX1024(table, d->mcs));
  d->bwpRbOffset = c.bwpCfg.rbOffset;
  d->pdschEn = 1;

  return true;
}

}  // namespace

bool nrSlotFileParse(const std::string& text, const char* name, NrNbConfig* cfg,
                     NrSlotDeriveFn derive) {
  Reader rd{name};
  static NrNbConfig stage;
  stage = *cfg;
  NrNbConfig& c = stage;

  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    return rd.fail(e.mark, "YAML", e.msg);
  }
  try {
    if (!root.IsDefined() || root.IsNull())
      return rd.fail(YAML::Mark::null_mark(), "file", "empty");
    if (!rd.isMap(root, "file") ||
        !rd.keys(root, "", {"seed", "carrier", "bwp", "cell", "slot", "pdsch", "waveform"}))
      return false;
    int64_t v = 0;
    if (root["seed"] && !rd.integer(root["seed"], "seed", 0, UINT32_MAX, &v)) return false;
    if (const YAML::Node n = root["carrier"]) {
      if (!rd.isMap(n, "carrier") || !rd.keys(n, "carrier.", {"nrb", "txPowGain"})) return false;
      if (n["nrb"]) {
        if (!rd.integer(n["nrb"], "carrier.nrb", 1, kMaxCarrierRb, &v)) return false;
        c.carrierCfg.nrb = static_cast<uint16_t>(v);
        nrCellFftLayout(c.carrierCfg.nrb, &c.cellCfg);
      }
      if (n["txPowGain"]) {
        if (!rd.integer(n["txPowGain"], "carrier.txPowGain", 0, 65535, &v)) return false;
        c.carrierCfg.txPowGain = static_cast<uint16_t>(v);
      }
    }
    if (const YAML::Node n = root["bwp"]) {
      if (!rd.isMap(n, "bwp") || !rd.keys(n, "bwp.", {"rbOffset", "nrb"})) return false;
      if (n["rbOffset"] && !rd.integer(n["rbOffset"], "bwp.rbOffset", 0, kMaxCarrierRb - 1, &v))
        return false;
      if (n["rbOffset"]) c.bwpCfg.rbOffset = static_cast<uint16_t>(v);
      if (n["nrb"] && !rd.integer(n["nrb"], "bwp.nrb", 1, kMaxCarrierRb, &v)) return false;
      if (n["nrb"]) c.bwpCfg.nrb = static_cast<uint16_t>(v);
    }
    if (c.bwpCfg.rbOffset + c.bwpCfg.nrb > c.carrierCfg.nrb)
      return rd.fail(root["bwp"] ? root["bwp"].Mark() : root.Mark(), "bwp",
                     "RBs " + std::to_string(c.bwpCfg.rbOffset) + ".." +
                         std::to_string(c.bwpCfg.rbOffset + c.bwpCfg.nrb - 1) +
                         " reach beyond the carrier's " + std::to_string(c.carrierCfg.nrb) +
                         " RBs");
    bool statedPorts = false;
    if (const YAML::Node n = root["cell"]) {
      if (!rd.isMap(n, "cell") || !rd.keys(n, "cell.", {"pci", "nId", "antennaPorts"}))
        return false;
      if (n["pci"] && !rd.integer(n["pci"], "cell.pci", 0, 1007, &v)) return false;
      if (n["pci"]) c.cellCfg.pci = static_cast<uint16_t>(v);
      if (n["nId"] && !rd.integer(n["nId"], "cell.nId", 0, 1023, &v)) return false;
      if (n["nId"]) c.cellCfg.nId = static_cast<uint16_t>(v);
      if (n["antennaPorts"] && !rd.integer(n["antennaPorts"], "cell.antennaPorts", 1, 2, &v))
        return false;
      if (n["antennaPorts"]) {
        c.cellCfg.antPortN = static_cast<uint8_t>(v);
        statedPorts = true;
      }
    }
    if (root["slot"]) {
      if (!rd.integer(root["slot"], "slot", 0, 9, &v)) return false;
      c.slotIdx = static_cast<uint16_t>(v);
    }
    if (const YAML::Node n = root["pdsch"]) {
      if (!n.IsSequence() || n.size() == 0 || n.size() > kSlotFileMaxPdsch)
        return rd.fail(n.Mark(), "pdsch",
                       "expected a list of 1.." + std::to_string(kSlotFileMaxPdsch) +
                           " PDSCH entries (- rnti: ...)");
      // New entries start from the first one's values.
      for (size_t i = c.pdschN; i < n.size(); i++) c.pdschCfg[i] = c.pdschCfg[0];
      c.pdschN = static_cast<uint8_t>(n.size());
      for (size_t i = 0; i < n.size(); i++)
        if (!readPdsch(rd, n[i], "pdsch[" + std::to_string(i) + "]", c, &c.pdschCfg[i]))
          return false;
    } else {
      // The drawn entries move with a BWP the file changed.
      for (int i = 0; i < c.pdschN && i < kSlotFileMaxPdsch; i++) {
        NrPdschCfg& d = c.pdschCfg[i];
        d.bwpRbOffset = c.bwpCfg.rbOffset;
        for (int r = 0; r < d.rbN; r++)
          if (d.rbIdx[r] >= c.bwpCfg.nrb)
            return rd.fail(root.Mark(), "pdsch",
                           "the generator's PDSCH RBs reach beyond the BWP the file sets: state "
                           "the pdsch entries");
      }
    }

    // Layers fit the antenna ports; entries do not share a resource element.
    int maxLayers = 1;
    static bool used[kSymbolsPerSlot][kMaxRb];
    std::memset(used, 0, sizeof(used));
    for (int i = 0; i < c.pdschN; i++) {
      const NrPdschCfg& d = c.pdschCfg[i];
      if (d.layerN > maxLayers) maxLayers = d.layerN;
      for (int l = 0; l < kSymbolsPerSlot; l++) {
        if (((d.symBitmap >> l) & 1) == 0) continue;
        for (int r = 0; r < d.rbN; r++) {
          if (used[l][d.rbIdx[r]])
            return rd.fail(root["pdsch"][i].Mark(), "pdsch[" + std::to_string(i) + "]",
                           "RB " + std::to_string(d.rbIdx[r]) + " of symbol " + std::to_string(l) +
                               " is used by an earlier entry");
          used[l][d.rbIdx[r]] = true;
        }
      }
    }
    if (!statedPorts && maxLayers > c.cellCfg.antPortN)
      c.cellCfg.antPortN = static_cast<uint8_t>(maxLayers);
    if (maxLayers > c.cellCfg.antPortN)
      return rd.fail(root["cell"]["antennaPorts"].Mark(), "cell.antennaPorts",
                     std::to_string(c.cellCfg.antPortN) + " antenna ports cannot carry " +
                         std::to_string(maxLayers) + " layers");
    if (const YAML::Node n = root["waveform"])
      if (!rd.isMap(n, "waveform")) return false;  // written for other readers, not read

    // What the transmitter makes of every entry, and the derived values the file states.
    for (int i = 0; derive && i < c.pdschN; i++) {
      NrSlotDerived want{};
      const std::string at = "pdsch[" + std::to_string(i) + "]";
      const YAML::Node e = root["pdsch"] ? root["pdsch"][i] : YAML::Node();
      if (const char* why = derive(&c, i, &want))
        return rd.fail(e ? e.Mark() : root.Mark(), at, why);
      if (e && e["derived"] && !checkDerived(rd, e["derived"], at + ".derived", want)) return false;
    }
  } catch (const YAML::Exception& e) {
    return rd.fail(e.mark, "YAML", e.msg);
  }
  *cfg = c;
  return true;
}

bool nrSlotFileRead(const char* path, std::string* text) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<size_t>(st.st_size) > kMaxFileBytes) {
    const int err = errno;
    if (fd < 0)
      nrDiag("%s: cannot open the slot file: %s\n", path, std::strerror(err));
    else if (!S_ISREG(st.st_mode))
      nrDiag("%s: not a regular file, not read\n", path);
    else
      nrDiag("%s: %lld bytes, more than a slot file holds (%zu)\n", path,
             static_cast<long long>(st.st_size), kMaxFileBytes);
    if (fd >= 0) close(fd);
    return false;
  }
  text->assign(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < text->size()) {
    const ssize_t n = ::read(fd, text->data() + got, text->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  text->resize(got);
  return true;
}

bool nrSlotFileSeed(const std::string& text, uint32_t* seed) {
  try {
    const YAML::Node root = YAML::Load(text);
    if (!root.IsMap() || !root["seed"] || !root["seed"].IsScalar()) return false;
    const std::string& s = root["seed"].Scalar();
    uint32_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    *seed = v;
    return true;
  } catch (const YAML::Exception&) {
    return false;
  }
}

std::string nrSlotFileText(const NrNbConfig* cfg, const NrSlotDerived* derived, uint32_t seed,
                           const NrSlotWaveform* waveform) {
  const NrNbConfig& c = *cfg;
  YAML::Emitter y;
  y << YAML::Comment(
           "Veltra slot description. `veltra --slot FILE ACTION...` applies it on top of the\n"
           "default slot generator's draw (fields not stated keep their drawn values);\n"
           "`veltra gNbTx` writes the slot it sent as nrSlotCfg.yaml.")
    << YAML::Newline;
  y << YAML::BeginMap;
  y << YAML::Key << "seed" << YAML::Value << seed
    << YAML::Comment("generator seed for every field this file does not state");
  y << YAML::Key << "carrier" << YAML::Value << YAML::BeginMap;
  y << YAML::Key << "nrb" << YAML::Value << c.carrierCfg.nrb
    << YAML::Comment("carrier width in RBs, 1..145 (the FFT size follows, at most 2048)");
  y << YAML::Key << "txPowGain" << YAML::Value << c.carrierCfg.txPowGain
    << YAML::Comment("OFDM modulator gain, 1024 = unity");
  y << YAML::EndMap;
  y << YAML::Key << "bwp" << YAML::Value << YAML::BeginMap;
  y << YAML::Key << "rbOffset" << YAML::Value << c.bwpCfg.rbOffset
    << YAML::Comment("first common RB of the bandwidth part");
  y << YAML::Key << "nrb" << YAML::Value << c.bwpCfg.nrb
    << YAML::Comment("BWP width in RBs; PDSCH RBs are numbered 0..nrb-1");
  y << YAML::EndMap;
  y << YAML::Key << "cell" << YAML::Value << YAML::BeginMap;
  y << YAML::Key << "pci" << YAML::Value << c.cellCfg.pci
    << YAML::Comment("physical cell identity, 0..1007");
  y << YAML::Key << "nId" << YAML::Value << c.cellCfg.nId
    << YAML::Comment("PDSCH data-scrambling identity n_ID, 0..1023 (TS 38.211 7.3.1.1)");
  y << YAML::Key << "antennaPorts" << YAML::Value << static_cast<int>(c.cellCfg.antPortN)
    << YAML::Comment("gNB antenna ports = UE receive antennas, 1 or 2; one per layer");
  y << YAML::EndMap;
  y << YAML::Key << "slot" << YAML::Value << c.slotIdx
    << YAML::Comment("slot number n_s in the frame, 0..9 (DMRS sequence)");
  y << YAML::Key << "pdsch" << YAML::Value << YAML::BeginSeq;
  for (int i = 0; i < c.pdschN && i < kSlotFileMaxPdsch; i++) {
    const NrPdschCfg& d = c.pdschCfg[i];
    const uint16_t bits = d.symBitmap & 0x3FFF;
    const int first = bits ? __builtin_ctz(bits) : 0;
    const int count = bits ? 32 - __builtin_clz(bits) - first : 0;
    bool contiguous = true;
    for (int r = 1; r < d.rbN; r++) contiguous = contiguous && d.rbIdx[r] == d.rbIdx[0] + r;
    y << YAML::BeginMap;
    y << YAML::Key << "rnti" << YAML::Value << d.rnti << YAML::Comment("0..65535");
    y << YAML::Key << "mcsTable" << YAML::Value << (d.mcsTable == kMcsTableQam64 ? 1 : 2)
      << YAML::Comment("1: TS 38.214 Table 5.1.3.1-1 (64QAM), 2: Table 5.1.3.1-2 (256QAM)");
    y << YAML::Key << "mcs" << YAML::Value << d.mcs
      << YAML::Comment("MCS index, 0..28 (table 1) or 0..27 (table 2)");
    y << YAML::Key << "layers" << YAML::Value << static_cast<int>(d.layerN)
      << YAML::Comment("1 or 2 (TS 38.211 7.3.1.3), identity precoding");
    y << YAML::Key << "rv" << YAML::Value << static_cast<int>(d.rvIdx)
      << YAML::Comment("redundancy version, 0..3");
    if (contiguous) {
      y << YAML::Key << "rbStart" << YAML::Value << (d.rbN > 0 ? d.rbIdx[0] : d.rbStart)
        << YAML::Comment("first RB within the BWP (or list them: rbs: [a, b, ...])");
      y << YAML::Key << "rbCount" << YAML::Value << d.rbN;
    } else {
      y << YAML::Key << "rbs" << YAML::Value << YAML::Flow << YAML::BeginSeq;
      for (int r = 0; r < d.rbN; r++) y << d.rbIdx[r];
      y << YAML::EndSeq << YAML::Comment("RBs within the BWP, ascending");
    }
    y << YAML::Key << "symbolStart" << YAML::Value << first
      << YAML::Comment("first PDSCH symbol, 0..13");
    y << YAML::Key << "symbolCount" << YAML::Value << count
      << YAML::Comment("PDSCH symbols, start + count <= 14");
    y << YAML::Key << "dmrs" << YAML::Value << YAML::BeginMap;
    y << YAML::Key << "type" << YAML::Value << static_cast<int>(d.dmrsType)
      << YAML::Comment("DMRS configuration type 1 or 2 (TS 38.211 7.4.1.1.2)");
    y << YAML::Key << "firstSymbol" << YAML::Value << static_cast<int>(d.dmrsFirstSym)
      << YAML::Comment("first DMRS symbol, inside the PDSCH symbols");
    y << YAML::Key << "additionalPositions" << YAML::Value << YAML::Flow << YAML::BeginSeq;
    for (int k = 0; k < d.dmrsAddPosN && k < 3; k++) y << static_cast<int>(d.dmrsAddPos[k]);
    y << YAML::EndSeq << YAML::Comment("up to three more DMRS symbols, ascending");
    y << YAML::Key << "ports" << YAML::Value << YAML::Flow << YAML::BeginSeq;
    for (int j = 0; j < 12 && d.dmrsPortIdx[j] != kPortListEnd; j++)
      y << kPortBase + d.dmrsPortIdx[j];
    y << YAML::EndSeq
      << YAML::Comment("DMRS ports; layer v on ports[v], two layers on a pair 1000/1001, ...");
    y << YAML::Key << "cdmGroupsWithoutData" << YAML::Value << static_cast<int>(d.cdmGrpNoData)
      << YAML::Comment("1..3 (type 1 has two groups: 3 acts as 2), covering the ports' groups");
    y << YAML::Key << "scramblingId" << YAML::Value << d.dmrsScrId0
      << YAML::Comment("N_ID of the DMRS c_init, 0..65535 (TS 38.211 7.4.1.1.1)");
    y << YAML::Key << "nScid" << YAML::Value << d.dmrsScrId1
      << YAML::Comment("n_SCID of the DMRS c_init, 0..3");
    y << YAML::EndMap;
    if (derived) {
      const NrSlotDerived& x = derived[i];
      y << YAML::Key << "derived" << YAML::Value << YAML::BeginMap;
      y << YAML::Key << "qm" << YAML::Value << x.qm << YAML::Comment("modulation order");
      y << YAML::Key << "codeRate" << YAML::Value << YAML::DoublePrecision(10)
        << static_cast<double>(x.rateX1024) / 1024.0
        << YAML::Comment("target code rate of the MCS table");
      y << YAML::Key << "tbs" << YAML::Value << x.tbs
        << YAML::Comment("transport block size in bits (TS 38.214 5.1.3.2)");
      y << YAML::Key << "codeBlocks" << YAML::Value << x.codeBlocks;
      y << YAML::Key << "codedBits" << YAML::Value << x.codedBits
        << YAML::Comment("G, rate-matched bits of the transport block");
      y << YAML::EndMap;
    }
    y << YAML::EndMap;
  }
  y << YAML::EndSeq;
  if (waveform) {
    const NrSlotWaveform& w = *waveform;
    y << YAML::Key << "waveform" << YAML::Value << YAML::BeginMap
      << YAML::Comment("what a reader of the sample files needs; not read back");
    y << YAML::Key << "sampleRate" << YAML::Value << w.sampleRate
      << YAML::Comment("samples per second: fftSize x 15 kHz");
    y << YAML::Key << "fftSize" << YAML::Value << c.cellCfg.fftSize;
    y << YAML::Key << "cyclicPrefix" << YAML::Value << YAML::Flow << YAML::BeginSeq;
    for (int l = 0; l < kSymbolsPerSlot; l++) y << c.cellCfg.cpLen[l];
    y << YAML::EndSeq << YAML::Comment("samples before each of the 14 symbols");
    y << YAML::Key << "samplesPerSlot" << YAML::Value << w.samplesPerSlot;
    y << YAML::Key << "scale" << YAML::Value
      << "sample = txPowGain/1024 x IDFT(grid)/sqrt(fftSize), grid in units of 1/1024 (QPSK "
         "+-724), rounded to int16"
      << YAML::Comment("subcarrier 0 of the carrier at bin fftSize/2 - 6 nrb, DC used");
    y << YAML::Key << "files" << YAML::Value << YAML::BeginSeq;
    for (uint32_t p = 0; p < w.antennaPorts; p++) {
      const std::string sfx = p == 0 ? "" : std::to_string(p);
      y << YAML::BeginMap;
      y << YAML::Key << "port" << YAML::Value << p;
      y << YAML::Key << "text" << YAML::Value << "nrNbTxData" + sfx + ".dat"
        << YAML::Comment("one \"I,Q\" line of decimal int16 per sample");
      y << YAML::Key << "float" << YAML::Value << "nrNbTxDataf" + sfx + ".dat"
        << YAML::Comment("little-endian float32 I, Q pairs, no header, unrounded");
      y << YAML::EndMap;
    }
    y << YAML::EndSeq;
    y << YAML::EndMap;
  }
  y << YAML::EndMap;
  return std::string(y.c_str()) + "\n";
}
