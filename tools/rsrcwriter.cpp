#include "rsrcwriter.h"

#include <algorithm>
#include <cstdio>

namespace rsrcw {

using namespace rsrcfmt;

namespace {
void Append32(Bytes& b, uInt32 v) {
  uChar w[4];
  PutBE32(w, v);
  b.insert(b.end(), w, w + 4);
}
// A four-character code: its bytes as they are.
void AppendCode(Bytes& b, uInt32 code) {
  uChar w[4];
  PutNative32(w, code);
  b.insert(b.end(), w, w + 4);
}
bool Named(const std::optional<std::string>& name) { return name && !name->empty(); }
}  // namespace

bool Writer::Add(uInt32 type, int32 id, const Bytes& data, std::optional<std::string> name, uInt32 attrs) {
  for (const Rsrc& r : rsrcs_)
    if (r.type == type && r.id == id) return false;
  if (name && name->size() > 255) name->resize(255);
  rsrcs_.push_back(Rsrc{type, id, data, std::move(name), attrs});
  return true;
}

Bytes Writer::Write(const Options& options, Layout* layout) const {
  Layout lay;
  const uInt32 base = uInt32(options.leading.size());
  lay.base = base;

  // Types in the order of their first resource; each type's resources by id.
  std::vector<uInt32> types;
  std::vector<std::vector<size_t>> members;
  for (size_t i = 0; i < rsrcs_.size(); ++i) {
    auto it = std::find(types.begin(), types.end(), rsrcs_[i].type);
    size_t t = size_t(it - types.begin());
    if (it == types.end()) {
      types.push_back(rsrcs_[i].type);
      members.emplace_back();
    }
    members[t].push_back(i);
  }
  for (auto& m : members)
    std::sort(m.begin(), m.end(), [this](size_t a, size_t b) { return rsrcs_[a].id < rsrcs_[b].id; });

  // The map's parts.
  const uInt32 nTypes = uInt32(types.size());
  const uInt32 nRsrcs = uInt32(rsrcs_.size());
  const uInt32 typeListEnd = kMapFixedSize + kTypeCountSize + kTypeEntrySize * nTypes;
  const uInt32 refListsEnd = typeListEnd + kRefEntrySize * nRsrcs;
  uInt32 namesSize = 0;
  for (const Rsrc& r : rsrcs_)
    if (Named(r.name)) namesSize += uInt32(r.name->size()) + 1;
  const uInt32 mapSize = nRsrcs ? refListsEnd + namesSize : 0;
  uInt32 dataSize = 0;
  for (const Rsrc& r : rsrcs_) dataSize += uInt32(RecordSize(r.data.size()));

  const uInt32 mapOffset = nRsrcs ? (options.mapFirst ? kHeaderSize : kHeaderSize + dataSize) : kHeaderSize;
  const uInt32 dataOffset = options.mapFirst ? kHeaderSize + mapSize : kHeaderSize;

  Bytes header(kHeaderSize, 0);
  PutNative32(&header[kHdrSignature], kSignature);
  header[kHdrLineEnd] = options.lineEnd[0];
  header[kHdrLineEnd + 1] = options.lineEnd[1];
  PutBE16(&header[kHdrVersion], uInt16(options.version));
  PutNative32(&header[kHdrFileType], fileType_);
  PutNative32(&header[kHdrCreator], creator_);
  PutBE32(&header[kHdrMapOffset], mapOffset);
  PutBE32(&header[kHdrMapSize], mapSize);
  PutBE32(&header[kHdrDataOffset], dataOffset);
  PutBE32(&header[kHdrDataSize], dataSize);

  // Data records in type order and id order.
  Bytes data;
  std::vector<uInt32> recordAt(rsrcs_.size(), 0);
  for (const auto& m : members)
    for (size_t i : m) {
      const Bytes& d = rsrcs_[i].data;
      recordAt[i] = uInt32(data.size());
      Append32(data, uInt32(d.size()));
      data.insert(data.end(), d.begin(), d.end());
      data.resize(PaddedSize(data.size()), 0);
    }

  // The map.
  Bytes map;
  std::vector<uInt32> refAt(rsrcs_.size(), 0), nameAt(rsrcs_.size(), 0), typeAt;
  if (nRsrcs) {
    map = header;
    Append32(map, 0);  // reserved
    Append32(map, 0);  // run-time reference
    Append32(map, options.mapAttrs);
    Append32(map, kMapFixedSize);
    Append32(map, namesSize ? refListsEnd : 0);
    Append32(map, nTypes - 1);
    uInt32 refList = typeListEnd;
    for (size_t t = 0; t < types.size(); ++t) {
      typeAt.push_back(uInt32(map.size()));
      AppendCode(map, types[t]);
      Append32(map, uInt32(members[t].size()) - 1);
      Append32(map, refList - kMapFixedSize);
      refList += kRefEntrySize * uInt32(members[t].size());
    }
    // Name offsets in the order the resources were added.
    std::vector<uInt32> nameOffset(rsrcs_.size(), kNoName);
    uInt32 running = 0;
    for (size_t i = 0; i < rsrcs_.size(); ++i)
      if (Named(rsrcs_[i].name)) {
        nameOffset[i] = running;
        running += uInt32(rsrcs_[i].name->size()) + 1;
      }
    for (const auto& m : members)
      for (size_t i : m) {
        refAt[i] = uInt32(map.size());
        Append32(map, uInt32(rsrcs_[i].id));
        Append32(map, nameOffset[i]);
        Append32(map, rsrcs_[i].attrs);
        Append32(map, recordAt[i]);
        Append32(map, 0);  // run-time handle
      }
    for (size_t i = 0; i < rsrcs_.size(); ++i)
      if (Named(rsrcs_[i].name)) {
        nameAt[i] = uInt32(map.size());
        map.push_back(uChar(rsrcs_[i].name->size()));
        map.insert(map.end(), rsrcs_[i].name->begin(), rsrcs_[i].name->end());
      }
  }

  Bytes out = options.leading;
  out.insert(out.end(), header.begin(), header.end());
  const uInt32 mapAt = base + mapOffset, dataAt = base + dataOffset;
  if (options.mapFirst) {
    out.insert(out.end(), map.begin(), map.end());
    out.insert(out.end(), data.begin(), data.end());
  } else {
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), map.begin(), map.end());
  }
  if (options.trailer) {
    lay.trailer = uInt32(out.size());
    Bytes t = AppTrailer(base, options.trailerFlags);
    out.insert(out.end(), t.begin(), t.end());
  }

  if (layout) {
    lay.map = nRsrcs ? mapAt : 0;
    lay.mapSize = mapSize;
    lay.data = dataAt;
    lay.dataSize = dataSize;
    lay.typeList = nRsrcs ? mapAt + kMapFixedSize : 0;
    lay.nameList = namesSize ? mapAt + refListsEnd : 0;
    for (uInt32 t : typeAt) lay.typeEntries.push_back(mapAt + t);
    for (size_t i = 0; i < rsrcs_.size(); ++i) {
      lay.refEntries.push_back(mapAt + refAt[i]);
      lay.names.push_back(nameAt[i] ? mapAt + nameAt[i] : 0);
      lay.records.push_back(dataAt + recordAt[i]);
    }
    *layout = lay;
  }
  return out;
}

Bytes StrList(const std::vector<std::string>& strings) {
  Bytes b(2, 0);
  PutBE16(b.data(), uInt16(strings.size()));
  for (const std::string& s : strings) {
    size_t n = std::min<size_t>(s.size(), 255);
    b.push_back(uChar(n));
    b.insert(b.end(), s.begin(), s.begin() + n);
  }
  return b;
}

Bytes LStrList(const std::vector<std::string>& entries) {
  Bytes b;
  Append32(b, uInt32(entries.size()));
  for (const std::string& s : entries) {
    Append32(b, uInt32(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    b.resize(PaddedSize(b.size()), 0);
  }
  return b;
}

Bytes PathList(const std::vector<Bytes>& flatPaths) {
  Bytes b;
  Append32(b, uInt32(flatPaths.size()));
  for (const Bytes& p : flatPaths) {
    b.insert(b.end(), p.begin(), p.end());
    b.resize(PaddedSize(b.size()), 0);
  }
  return b;
}

Bytes FlatPath(int16 type, const std::vector<std::string>& components) {
  Bytes body(4, 0);
  PutBE16(&body[0], uInt16(type));
  PutBE16(&body[2], uInt16(components.size()));
  for (const std::string& c : components) {
    size_t n = std::min<size_t>(c.size(), 255);
    body.push_back(uChar(n));
    body.insert(body.end(), c.begin(), c.begin() + n);
  }
  Bytes b;
  AppendCode(b, kFlatPathTag);
  Append32(b, uInt32(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes AppTrailer(uInt32 offset, uInt32 flags) {
  Bytes t(kTrailerSize, 0);
  t[kTrailerTag] = 'A';
  t[kTrailerTag + 1] = 'P';
  t[kTrailerTag + 2] = 'P';
  t[kTrailerTag + 3] = 'B';
  PutLE32(&t[kTrailerVersion], kTrailerVersionValue);
  PutLE32(&t[kTrailerUnread], 0x005DC000u);
  PutLE32(&t[kTrailerFlags], flags);
  PutLE32(&t[kTrailerOffset], offset);
  return t;
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

bool WriteHostFile(const std::string& hostPath, const Bytes& bytes) {
  FILE* f = std::fopen(hostPath.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

Bytes ReadHostFile(const std::string& hostPath) {
  Bytes b;
  FILE* f = std::fopen(hostPath.c_str(), "rb");
  if (!f) return b;
  uChar buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
  std::fclose(f);
  return b;
}

}  // namespace rsrcw
