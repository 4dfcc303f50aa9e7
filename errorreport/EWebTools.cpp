#include "EWebTools.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <random>

#include "EBase64.h"
#include "ECore.h"
#include "EPipeline.h"
#include "SysUtils.h"

namespace {

bool IsNameChar(char c) {
  return c == '-' || c == '.' || std::isalnum(static_cast<unsigned char>(c)) != 0;
}

bool AllNameChars(std::string_view s, bool allowColon) {
  return std::all_of(s.begin(), s.end(), [&](char c) { return IsNameChar(c) || (allowColon && c == ':'); });
}

// Takes the text before `marker` out of `rest` (with the marker) when `accept` allows it.
template <class Accept>
std::string CutBefore(std::string& rest, std::string_view marker, Accept accept) {
  std::size_t p = rest.find(marker);
  if (p == std::string::npos) return {};
  std::string part = rest.substr(0, p);
  if (!accept(part)) return {};
  rest.erase(0, p + marker.size());
  return part;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
  if (at > text.size() || text.size() - at < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[at + i]) != LowerAscii(prefix[i])) return false;
  return true;
}

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from = 0) {
  if (what.empty()) return from <= text.size() ? from : std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); ++i)
    if (StartsWithNoCase(text, i, what)) return i;
  return std::string_view::npos;
}

bool Contains(std::string_view text, std::string_view what) {
  return text.find(what) != std::string_view::npos;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The end position of the first ">" outside quotes (the opening tag's end), or the text's size.
std::size_t OpeningTagEnd(std::string_view tag) {
  char quote = 0;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    char c = tag[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return tag.size();
}

std::string FieldOfList(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& entry : list) {
    std::size_t eq = entry.find('=');
    if (eq != std::string::npos && entry.compare(0, eq, name) == 0) return entry.substr(eq + 1);
  }
  return {};
}

// The digits (or other characters of an identifier) after the first `marker`.
std::string ValueAfter(std::string_view text, std::string_view marker) {
  std::size_t p = text.find(marker);
  if (p == std::string_view::npos) return {};
  p += marker.size();
  std::size_t e = p;
  while (e < text.size() && (std::isalnum(static_cast<unsigned char>(text[e])) || text[e] == '-' || text[e] == '_'))
    ++e;
  return std::string(text.substr(p, e - p));
}

std::int32_t gTrackerCounterLimit = 0;
std::string gUploadProxy, gUploadProxyUser, gUploadProxyPassword;
TWebTransportFactory& TransportFactory() {
  static TWebTransportFactory factory;
  return factory;
}

struct TProgressTarget {
  TSendingWindowState* Window = nullptr;
  const TVantorModuleOptions* Texts = nullptr;
  std::function<void(const TSendingWindowState&)> Changed;
};
TProgressTarget& ProgressTarget() {
  static TProgressTarget target;
  return target;
}

}  // namespace

// --- URLs ---------------------------------------------------------------------------------------------
bool SplitUrl(std::string url, std::string& scheme, std::string& user, std::uint16_t& port, std::string& basePath,
              std::string& host, std::string& password) {
  scheme.clear();
  user.clear();
  basePath.clear();
  host.clear();
  password.clear();
  port = 0;
  url = Trim(url);
  if (url.empty() || url.back() != '/') url += '/';
  // A port just before the final "/": the text after the last ":" when it holds
  // no "/" and no "@" (a port followed by a folder is not recognised).
  std::size_t end = url.size() - 1;
  std::size_t colon = url.rfind(':', end);
  if (colon != std::string::npos) {
    std::string text = url.substr(colon + 1, end - colon - 1);
    if (text.find_first_of("/@") == std::string::npos) {
      unsigned long value = 0;
      for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) return false;
      }
      port = static_cast<std::uint16_t>(value);
      url.erase(colon, end - colon);
    }
  }
  std::string rest = url;
  scheme = CutBefore(rest, "://", [](const std::string& s) { return AllNameChars(s, false); });
  // The login part only stands before an "@" that comes before the first "/".
  std::size_t at = rest.find('@');
  if (at != std::string::npos && at < rest.find('/')) {
    user = CutBefore(rest, ":", [&](const std::string& s) { return s.size() < at; });
    password = CutBefore(rest, "@", [](const std::string&) { return true; });
  }
  host = CutBefore(rest, "/", [](const std::string& s) { return AllNameChars(s, true); });
  basePath = rest;
  return true;
}

void InsertUrlLogin(std::string& url, const std::string& user, const std::string& password, std::uint16_t port) {
  if (port != 0) url += ":" + std::to_string(port);
  if (user.empty() && password.empty()) return;
  std::string login = user + ":" + password + "@";
  std::size_t p = url.find("://");
  if (p == std::string::npos)
    url.insert(0, login);
  else
    url.insert(p + 3, login);
}

void SplitPathAndQuery(const std::string& url, std::string& directory, std::string& document, std::string& query) {
  std::size_t q = url.find('?');
  std::string path = q == std::string::npos ? url : url.substr(0, q);
  query = q == std::string::npos ? std::string() : url.substr(q);
  std::size_t scheme = path.find("://");
  if (scheme != std::string::npos) {
    std::size_t slash = path.find('/', scheme + 3);
    path = slash == std::string::npos ? std::string() : path.substr(slash);
  }
  std::size_t last = path.rfind('/');
  if (last == std::string::npos) {
    directory.clear();
    document = path;
  } else {
    directory = path.substr(0, last + 1);
    document = path.substr(last + 1);
  }
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

// --- Multipart bodies ---------------------------------------------------------------------------------
std::string NewFormBoundary() {
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<unsigned> below(0, 65534);
  std::string boundary(27, '-');
  for (int i = 0; i < 3; ++i) {
    char group[8];
    std::snprintf(group, sizeof group, "%04X", below(random));
    boundary += group;
  }
  return boundary;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  // The C library's files, not a file stream: streams bring the C++ library's locale machinery along.
  bytes.clear();
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  char block[16384];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) bytes.append(block, got);
  const bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}

std::string FileNameOf(const std::string& path) {
  std::size_t p = path.find_last_of("\\/");
  return p == std::string::npos ? path : path.substr(p + 1);
}

namespace {

void AppendFieldPart(std::string& body, const std::string& boundary, const std::string& name,
                     const std::string& value) {
  body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\";\r\n\r\n" + value + "\r\n";
}

void AppendFilePart(std::string& body, const std::string& boundary, const std::string& name,
                    const std::string& fileName, const std::string& bytes) {
  body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
          "\";\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
}

}  // namespace

std::string BuildFormBody(const TNameValueList& files, const TNameValueList& fields, const std::string& boundary) {
  std::string body;
  for (const auto& [name, value] : fields) AppendFieldPart(body, boundary, name, value);
  for (const auto& [name, path] : files) {
    std::string bytes;
    if (!path.empty() && ReadWholeFile(path, bytes))
      AppendFilePart(body, boundary, name, FileNameOf(path), bytes);
    else
      AppendFilePart(body, boundary, name, "", "");
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

std::string BuildUploadBody(const std::vector<std::string>& files, const std::vector<std::string>& remoteNames,
                            const TNameValueList& fields, const std::string& boundary) {
  std::string body;
  for (const auto& [name, value] : fields) AppendFieldPart(body, boundary, name, value);
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string bytes;
    if (!ReadWholeFile(files[i], bytes)) continue;
    std::string remote = i < remoteNames.size() ? remoteNames[i] : FileNameOf(files[i]);
    AppendFilePart(body, boundary, "vl_upload_file_" + std::to_string(i), remote, bytes);
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

std::string BasicAuthorizationHeader(const std::string& user, const std::string& password) {
  std::string encoded;
  Base64EncodeText(user + ":" + password, encoded);
  return "Authorization: Basic " + encoded;
}

std::string FtpRemotePath(const std::string& folder, const std::string& remoteName) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + FileNameOf(remoteName);
}

// --- Form scraping ------------------------------------------------------------------------------------
std::string DecodeHtmlEntities(std::string text) {
  static const std::pair<const char*, const char*> kNamed[] = {
      {"&amp;", "&"}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&nbsp;", " "}, {"&apos;", "'"},
  };
  for (const auto& [entity, replacement] : kNamed) {
    std::string_view e(entity);
    std::size_t p = 0;
    while ((p = text.find(e, p)) != std::string::npos) {
      text.replace(p, e.size(), replacement);
      p += std::char_traits<char>::length(replacement);
    }
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "&#") == 0) {
      std::size_t j = i + 2;
      unsigned long code = 0;
      bool big = false;
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
        code = code * 10 + static_cast<unsigned long>(text[j] - '0');
        if (code > 255) big = true;
        if (code > 0x10FFFF) code = 0x10FFFF;
        ++j;
      }
      if (j > i + 2 && j < text.size() && text[j] == ';') {
        // Bytes above 255 have no single-byte form: they become "?".
        out += big ? '?' : static_cast<char>(code);
        i = j + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::string FindFormTag(std::string_view html, std::string_view tagName, std::size_t from, std::size_t& next) {
  next = html.size();
  std::string opener = "<" + std::string(tagName) + " ";
  std::size_t start = FindNoCase(html, opener, from);
  if (start == std::string_view::npos) return {};
  std::vector<std::string> markers;
  if (tagName == "input") {
    markers = {"/>", ">"};
  } else if (tagName == "textarea") {
    markers = {"</textarea>", "/>"};
  } else {
    markers = {"</" + std::string(tagName) + ">"};
  }
  char quote = 0;
  bool inTag = true;
  for (std::size_t i = start + 1; i < html.size(); ++i) {
    char c = html[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    for (const std::string& m : markers) {
      if (StartsWithNoCase(html, i, m)) {
        next = i + m.size();
        return std::string(html.substr(start, i - start));
      }
    }
    if (inTag && (c == '"' || c == '\'')) {
      quote = c;
    } else if (c == '<') {
      inTag = true;
    } else if (c == '>') {
      inTag = false;
    }
  }
  // No end marker: the tag runs to the end of the text.
  return std::string(html.substr(start));
}

bool ReadTagAttribute(std::string_view tag, std::string_view name, std::string& value) {
  std::string_view head = tag.substr(0, OpeningTagEnd(tag));
  char quote = 0;
  for (std::size_t i = 0; i < head.size(); ++i) {
    char c = head[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (i == 0 || !IsBlank(head[i - 1]) || !StartsWithNoCase(head, i, name)) continue;
    std::size_t j = i + name.size();
    while (j < head.size() && IsBlank(head[j])) ++j;
    if (j >= head.size() || head[j] != '=') continue;
    ++j;
    while (j < head.size() && IsBlank(head[j])) ++j;
    std::string raw;
    if (j < head.size() && (head[j] == '"' || head[j] == '\'')) {
      char q = head[j];
      std::size_t e = head.find(q, j + 1);
      raw = std::string(head.substr(j + 1, (e == std::string_view::npos ? head.size() : e) - j - 1));
    } else {
      std::size_t e = j;
      while (e < head.size() && !IsBlank(head[e]) && head[e] != '>' && head.compare(e, 2, "/>") != 0) ++e;
      raw = std::string(head.substr(j, e - j));
    }
    value = DecodeHtmlEntities(raw);
    return true;
  }
  return false;
}

namespace {

bool TagNamed(std::string_view tag, const std::string& name) {
  std::string n;
  return ReadTagAttribute(tag, "name", n) && n == name;
}

bool HasWord(std::string_view head, std::string_view word) {
  for (std::size_t p = FindNoCase(head, word); p != std::string_view::npos; p = FindNoCase(head, word, p + 1)) {
    bool before = p == 0 || !std::isalnum(static_cast<unsigned char>(head[p - 1]));
    std::size_t e = p + word.size();
    bool after = e >= head.size() || !std::isalnum(static_cast<unsigned char>(head[e]));
    if (before && after) return true;
  }
  return false;
}

// The content of a select or option after its opening tag.
std::string TagContent(std::string_view tag) {
  std::size_t e = OpeningTagEnd(tag);
  return e < tag.size() ? std::string(tag.substr(e + 1)) : std::string();
}

std::string OptionValue(std::string_view option) {
  std::string value;
  if (ReadTagAttribute(option, "value", value)) return value;
  return Trim(DecodeHtmlEntities(TagContent(option)));
}

// The option's shown text: the content with "&" words and tags removed.
std::string OptionText(std::string_view option) {
  std::string content = TagContent(option);
  std::string out;
  for (std::size_t i = 0; i < content.size();) {
    if (content[i] == '&') {
      std::size_t e = content.find_first_of("; \t\r\n", i);
      i = e == std::string::npos ? content.size() : (content[e] == ';' ? e + 1 : e);
    } else if (content[i] == '<') {
      std::size_t e = content.find('>', i);
      i = e == std::string::npos ? content.size() : e + 1;
    } else {
      out += content[i++];
    }
  }
  return Trim(out);
}

bool FindSelect(std::string_view html, const std::string& name, std::string& select) {
  std::size_t from = 0, next = 0;
  for (;;) {
    std::string tag = FindFormTag(html, "select", from, next);
    if (tag.empty()) return false;
    if (TagNamed(tag, name)) {
      select = std::move(tag);
      return true;
    }
    from = next;
  }
}

template <class Visit>
void ForEachOption(std::string_view select, Visit visit) {
  std::size_t from = 0, next = 0;
  for (;;) {
    std::string option = FindFormTag(select, "option", from, next);
    if (option.empty()) return;
    if (visit(option)) return;
    from = next;
  }
}

}  // namespace

bool FindInputValue(std::string_view html, const std::string& name, std::string& value) {
  std::size_t from = 0, next = 0;
  for (;;) {
    std::string tag = FindFormTag(html, "input", from, next);
    if (tag.empty()) return false;
    if (TagNamed(tag, name)) {
      if (!ReadTagAttribute(tag, "value", value)) value.clear();
      return true;
    }
    from = next;
  }
}

bool FindTextareaValue(std::string_view html, const std::string& name, std::string& value) {
  std::size_t from = 0, next = 0;
  for (;;) {
    std::string tag = FindFormTag(html, "textarea", from, next);
    if (tag.empty()) return false;
    if (TagNamed(tag, name)) {
      value = Trim(DecodeHtmlEntities(TagContent(tag)));
      return true;
    }
    from = next;
  }
}

bool FindSelectedOption(std::string_view html, const std::string& name, std::string& value) {
  std::string select;
  if (!FindSelect(html, name, select)) return false;
  bool found = false;
  ForEachOption(select, [&](const std::string& option) {
    if (!HasWord(option.substr(0, OpeningTagEnd(option)), "selected")) return false;
    value = OptionValue(option);
    found = true;
    return true;
  });
  return found;
}

bool FindOptionByText(std::string_view html, const std::string& name, const std::string& text, std::string& value) {
  std::string select;
  if (!FindSelect(html, name, select)) return false;
  bool found = false;
  ForEachOption(select, [&](const std::string& option) {
    if (OptionText(option) != text) return false;
    value = OptionValue(option);
    found = true;
    return true;
  });
  return found;
}

// --- Responses ----------------------------------------------------------------------------------------
void THTTPResponse::Assign(const THTTPResponse* source) {
  if (!source) throw EAssertionFailed("Cannot assign a THTTPResponse class to a NIL value.");
  StatusCode = source->StatusCode;
  StatusText = source->StatusText;
  RawHeaders = source->RawHeaders;
  Body = source->Body;
  DocumentName = source->DocumentName;
  ErrorCode = source->ErrorCode;
  ErrorText = source->ErrorText;
}

void THTTPResponse::Clear() {
  StatusCode = 0;
  StatusText.clear();
  RawHeaders.clear();
  Body.clear();
  DocumentName.clear();
  ErrorCode = 0;
  ErrorText.clear();
}

// --- Transport ----------------------------------------------------------------------------------------
void SetWebTransportFactory(TWebTransportFactory factory) {
  TransportFactory() = std::move(factory);
}

std::unique_ptr<TWebTransport> CreateWebTransport() {
  return TransportFactory() ? TransportFactory()() : nullptr;
}

// --- Connection ---------------------------------------------------------------------------------------
THTTPConnectionBase::THTTPConnectionBase(const std::string& url, const std::string& proxy,
                                         std::unique_ptr<TWebTransport> transport)
    : transport_(std::move(transport)) {
  if (!transport_) transport_ = CreateWebTransport();
  std::string scheme;
  SplitUrl(url, scheme, user_, port_, basePath_, host_, password_);
  std::size_t q = basePath_.find('?');
  if (q != std::string::npos) basePath_.erase(q);
  if (basePath_.empty() || basePath_.back() != '/') basePath_ += '/';
  https_ = SameText(scheme, "https");
  if (port_ == 0) port_ = https_ ? 443 : 80;
  if (!proxy.empty() && proxy[0] != ':') {
    std::string proxyScheme, proxyBase, proxyHost;
    SplitUrl(proxy, proxyScheme, proxyUser_, proxyPort_, proxyBase, proxyHost, proxyPassword_);
    if (proxyPort_ == 0) proxyPort_ = 8080;
    proxyText_ = proxyHost + ":" + std::to_string(proxyPort_);
    proxy_ = true;
  }
}

THTTPConnectionBase::~THTTPConnectionBase() {
  if (opened_ && transport_) transport_->Close();
}

void THTTPConnectionBase::Open() {
  Progress(0, 0);
  TWebEndpoint endpoint;
  endpoint.Host = host_;
  endpoint.Port = port_;
  endpoint.User = user_;
  endpoint.Password = password_;
  endpoint.Https = https_;
  if (proxy_) {
    endpoint.Proxy = proxyText_;
    endpoint.ProxyUser = proxyUser_;
    endpoint.ProxyPassword = proxyPassword_;
  }
  std::string error;
  if (!transport_ || !transport_->Bind() || !transport_->Open(endpoint, error))
    throw EWebError("Cannot create an HTTP connection with the host: " + host_);
  opened_ = true;
  Progress(1, 0);
}

void THTTPConnectionBase::Close() {
  Progress(8, 0);
  bool ok = !opened_ || (transport_ && transport_->Close());
  opened_ = false;
  Progress(9, 0);
  if (!ok) throw EWebError("Cannot close the HTTP connection with the host: " + host_);
}

void THTTPConnectionBase::Progress(int, int) {}

void THTTPConnectionBase::SetRequest(const std::string& document, THTTPMethod method) {
  path_ = basePath_ + document;
  method_ = method;
  fields_.clear();
  files_.clear();
}

void THTTPConnectionBase::AddField(const std::string& name, const std::string& value) {
  fields_.emplace_back(name, value);
}

void THTTPConnectionBase::AddFile(const std::string& name, const std::string& path) {
  files_.emplace_back(name, path);
}

void THTTPConnectionBase::SetField(const std::string& name, const std::string& value) {
  for (auto& field : fields_) {
    if (field.first == name) {
      field.second = value;
      return;
    }
  }
  fields_.emplace_back(name, value);
}

bool THTTPConnectionBase::FieldValue(const std::string& name, std::string& value) const {
  for (const auto& field : fields_) {
    if (field.first == name) {
      value = field.second;
      return true;
    }
  }
  return false;
}

void THTTPConnectionBase::AddFieldsFromList(const std::vector<std::string>& list) {
  if (list.size() < 5) return;
  for (std::size_t i = 0; i + 4 < list.size(); ++i) {
    std::size_t eq = list[i].find('=');
    if (eq == std::string::npos) {
      SetField(list[i], "");
    } else {
      SetField(list[i].substr(0, eq), list[i].substr(eq + 1));
    }
  }
}

bool THTTPConnectionBase::AddInputField(const std::string& name) {
  std::string value;
  if (!FindInputValue(response_.Body, name, value)) return false;
  AddField(name, value);
  return true;
}

bool THTTPConnectionBase::AddTextareaField(const std::string& name) {
  std::string value;
  if (!FindTextareaValue(response_.Body, name, value)) return false;
  AddField(name, value);
  return true;
}

bool THTTPConnectionBase::AddSelectedField(const std::string& name) {
  std::string value;
  if (FindSelectedOption(response_.Body, name, value) || FindInputValue(response_.Body, name, value)) {
    AddField(name, value);
    return true;
  }
  return false;
}

bool THTTPConnectionBase::AddSelectedFieldIfNotEmpty(const std::string& name) {
  std::string value;
  if (!FindSelectedOption(response_.Body, name, value) || value.empty()) return false;
  AddField(name, value);
  return true;
}

bool THTTPConnectionBase::AddOptionByText(const std::string& name, const std::string& text) {
  std::string value;
  if (FindOptionByText(response_.Body, name, text, value) || FindSelectedOption(response_.Body, name, value)) {
    AddField(name, value);
    return true;
  }
  return false;
}

bool THTTPConnectionBase::IncrementCounterField(const std::string& name) {
  std::string value;
  FindInputValue(response_.Body, name, value);
  std::size_t dash = value.find(" - ");
  if (dash != std::string::npos) {
    std::size_t start = dash + 3;
    std::size_t end = value.find(']', start);
    if (end == std::string::npos) end = value.size();
    std::int64_t number = 0;
    for (std::size_t i = start; i < end && std::isdigit(static_cast<unsigned char>(value[i])); ++i)
      number = std::min<std::int64_t>(number * 10 + (value[i] - '0'), 0x7FFFFFFF);
    if (gTrackerCounterLimit != 0 && number >= gTrackerCounterLimit) return false;
    value.replace(start, end - start, std::to_string(number + 1));
  }
  AddField(name, value);
  return true;
}

TWebRequest THTTPConnectionBase::PrepareRequest(std::string& document) const {
  std::string directory, query;
  SplitPathAndQuery(path_, directory, document, query);
  TWebRequest request;
  request.Flags = https_ ? kHttpsRequestFlags : kHttpRequestFlags;
  switch (method_) {
    case hmGet:
      request.Verb = "GET";
      for (const auto& [name, value] : fields_) {
        query += query.empty() ? "?" : "&";
        query += UrlEncode(name) + "=" + UrlEncode(value);
      }
      break;
    case hmPostUrlEncoded:
      request.Verb = "POST";
      request.Headers.push_back("Content-Type: application/x-www-form-urlencoded");
      for (const auto& [name, value] : fields_) {
        if (!request.Body.empty()) request.Body += "&";
        request.Body += name + "=" + UrlEncode(value);
      }
      break;
    case hmPostMultipart: {
      request.Verb = "POST";
      std::string boundary = NewFormBoundary();
      request.Headers.push_back("Content-Type: multipart/form-data; boundary=" + boundary);
      request.Body = BuildFormBody(files_, fields_, boundary);
      break;
    }
  }
  request.Object = directory + document + query;
  if (request.Object.empty() || request.Object[0] != '/') request.Object.insert(0, "/");
  if (!user_.empty() || !password_.empty()) request.Headers.push_back(BasicAuthorizationHeader(user_, password_));
  return request;
}

void THTTPConnectionBase::Redirect(const std::string& location) {
  path_ = location;
  method_ = hmGet;
  fields_.clear();
  files_.clear();
}

namespace {

class TConnectionObserver final : public TWebTransferObserver {
 public:
  explicit TConnectionObserver(THTTPConnectionBase& connection) : connection_(connection) {}
  void Written(std::size_t done, std::size_t total) override {
    int percent = total == 0 ? 50 : static_cast<int>(std::lround(static_cast<double>(done) / total * 100.0));
    connection_.Progress(6, std::min(50, percent));
  }
  void WriteEnded() override { connection_.Progress(6, 50); }
  void Read(std::size_t done, std::size_t contentLength) override {
    double length = contentLength == 0 ? 1.0 : static_cast<double>(contentLength);
    long percent = std::lround(static_cast<double>(done) / length * 50.0 + 50.0);
    connection_.Progress(6, static_cast<int>(std::min(100L, percent)));
  }

 private:
  THTTPConnectionBase& connection_;
};

std::string RefreshTarget(const std::string& refresh) {
  std::size_t p = FindNoCase(refresh, "url=");
  return Trim(p == std::string::npos ? refresh : refresh.substr(p + 4));
}

}  // namespace

bool THTTPConnectionBase::Request(THTTPResponse& response, bool withProgress) {
  TConnectionObserver observer(*this);
  int redirections = 0;
  for (;;) {
    response_.Clear();
    std::string document;
    TWebRequest request = PrepareRequest(document);
    response_.DocumentName = document;
    TWebAnswer answer;
    std::int32_t errorCode = 0;
    std::string errorText;
    if (!transport_ || !transport_->Send(request, answer, withProgress ? &observer : nullptr, errorCode, errorText)) {
      response_.ErrorCode = errorCode;
      response_.ErrorText = errorText;
      response.Assign(&response_);
      return false;
    }
    response_.StatusCode = answer.StatusCode;
    response_.StatusText = answer.StatusText;
    response_.RawHeaders = answer.RawHeaders;
    response_.Body = answer.Body;
    std::int32_t status = answer.StatusCode;
    if (status == 301 || status == 302 || status == 303) {
      Redirect(answer.Location);
    } else if (status == 200 && !answer.Refresh.empty()) {
      Redirect(RefreshTarget(answer.Refresh));
      status = 302;
    }
    if (status == 302) {
      // A server that keeps redirecting (to itself, or in a circle) ends the request.
      if (++redirections > kMaxRedirections) {
        response_.ErrorCode = 12156;  // the redirection failed
        response_.ErrorText = "The request was redirected more than " + std::to_string(kMaxRedirections) + " times.";
        response.Assign(&response_);
        return false;
      }
      continue;
    }
    Progress(7, 0);
    for (char& c : response_.Body)
      if (static_cast<unsigned char>(c) < 32) c = ' ';
    response.Assign(&response_);
    return true;
  }
}

void THTTPConnection::Progress(int stage, int percent) {
  TProgressTarget& target = ProgressTarget();
  if (!target.Window || !target.Texts) return;
  ApplySendingProgress(*target.Window, *target.Texts, stage, percent);
  if (target.Changed) target.Changed(*target.Window);
}

void THTTPConnection::SetProgressTarget(TSendingWindowState* window, const TVantorModuleOptions* texts,
                                        std::function<void(const TSendingWindowState&)> changed) {
  ProgressTarget() = {window, texts, std::move(changed)};
}

// --- Bug-tracker senders ------------------------------------------------------------------------------
int TrackerResultTextIndex(int result) {
  switch (result) {
    case trBugClosed:
      return 146;
    case trUnknown:
      return 147;
    case trLoginFailed:
      return 148;
    case trProjectFailed:
      return 150;
    case trSearchFailed:
      return 149;
    case trInsertFailed:
      return 151;
    case trUpdateFailed:
      return 152;
    default:
      return -1;
  }
}

void SetTrackerCounterLimit(std::int32_t limit) {
  gTrackerCounterLimit = limit;
}

std::int32_t TrackerCounterLimit() {
  return gTrackerCounterLimit;
}

std::string TrackerSummaryText(const TTrackerReport& report) {
  return "[v" + report.Version + " - 1]: " + report.ClassName + " (" + report.BugId + ")";
}

std::string TrackerSearchText(const TTrackerReport& report) {
  return report.ClassName + " (" + report.BugId + ")";
}

namespace {

// Runs one tracker flow; a failure to connect (or anything raised) is an unknown result.
template <class Flow>
int RunTrackerFlow(const THTTPConnectionClass& connectionClass, const TTrackerReport& report, THTTPResponse& response,
                   Flow flow) {
  try {
    std::unique_ptr<THTTPConnectionBase> connection = connectionClass(report.WebUrl, report.ProxyUrl);
    connection->Open();
    int result = flow(*connection);
    try {
      connection->Close();
    } catch (const std::exception&) {
    }
    return result;
  } catch (const std::exception& e) {
    response.Clear();
    response.ErrorText = e.what();
    return trUnknown;
  }
}

bool Answered(bool ok, const THTTPResponse& response, std::string_view document) {
  return ok && response.DocumentName == document;
}

std::string MessageAndSteps(const TTrackerReport& report) {
  std::string steps = FieldOfList(report.Fields, "VL_ReproduceText");
  return steps.empty() ? report.Message : report.Message + "\r\n\r\n" + steps;
}

// A field of the page by name: an input, else a textarea, else a select's selection.
void AddPageField(THTTPConnectionBase& c, const std::string& name) {
  if (!c.AddInputField(name) && !c.AddTextareaField(name)) c.AddSelectedField(name);
}

}  // namespace

int THTTPMantisSendReport::Send(const TTrackerReport& report, THTTPResponse& response) {
  return RunTrackerFlow(connectionClass_, report, response, [&](THTTPConnectionBase& c) -> int {
    c.Progress(2, 0);
    c.SetRequest("login.php", hmPostUrlEncoded);
    c.AddField("return", "login_select_proj_page.php");
    c.AddField("username", report.User);
    c.AddField("password", report.Password);
    bool ok = c.Request(response, false);
    if (!Answered(ok, response, "login_select_proj_page.php") || !Contains(response.Body, "name=\"project_id\""))
      return trLoginFailed;

    c.Progress(3, 0);
    c.SetRequest("set_project.php", hmPostUrlEncoded);
    c.AddOptionByText("project_id", report.Project);
    ok = c.Request(response, false);
    if (!Answered(ok, response, "my_view_page.php") || (!Contains(response.Body, ">" + report.Project + "</option>") &&
                                                        !Contains(response.Body, " " + report.Project + "</option>")))
      return trProjectFailed;

    c.Progress(4, 0);
    c.SetRequest("view_all_set.php?f=3", hmPostUrlEncoded);
    c.AddField("type", "1");
    c.AddField("page_number", "1");
    c.AddField("view_type", "simple");
    c.AddField("search", TrackerSearchText(report));
    ok = c.Request(response, false);
    if (!Answered(ok, response, "view_all_bug_page.php") || !Contains(response.Body, "reset_query_button") ||
        !Contains(response.Body, "source_query_id"))
      return trSearchFailed;

    const std::string listing = response.Body;
    if (!Contains(listing, "bug_update_page.php?bug_id=") &&
        !Contains(listing, "bug_update_advanced_page.php?bug_id=")) {
      c.SetRequest("bug_report_advanced_page.php", hmGet);
      if (!c.Request(response, true) || !Contains(response.Body, "name=\"file\" type=\"file\"")) return trInsertFailed;
      c.SetRequest("bug_report.php", hmPostMultipart);
      c.AddInputField("m_id");
      c.AddInputField("project_id");
      c.AddOptionByText("handler_id", report.AssignTo);
      c.AddOptionByText("category", report.Category);
      c.AddField("reproducibility", "10");
      c.AddSelectedField("severity");
      c.AddSelectedField("priority");
      c.AddInputField("platform");
      c.AddField("os", FieldOfList(report.Fields, "VL_OSType"));
      c.AddField("os_build", FieldOfList(report.Fields, "VL_OSBuild"));
      c.AddField("build", report.Version);
      c.AddField("summary", TrackerSummaryText(report));
      c.AddField("description", report.Message);
      c.AddField("steps_to_reproduce", FieldOfList(report.Fields, "VL_ReproduceText"));
      c.AddField("additional_info", "");
      c.AddField("view_state", "10");
      c.AddInputField("report_stay");
      c.AddInputField("bug_report_token");
      c.AddOptionByText("category_id", report.Category);
      c.AddFieldsFromList(report.Fields);
      c.AddFile("file", report.Attachment);
      ok = c.Request(response, true);
      return Answered(ok, response, "bug_report.php") && Contains(response.Body, "href=\"view.php?id=")
                 ? trDone
                 : trInsertFailed;
    }

    c.Progress(5, 0);
    std::string bugId = ValueAfter(listing, "bug_update_page.php?bug_id=");
    if (bugId.empty()) bugId = ValueAfter(listing, "bug_update_advanced_page.php?bug_id=");
    c.SetRequest("bug_update_page.php", hmGet);
    c.AddField("bug_id", bugId);
    if (!c.Request(response, false) || !Contains(response.Body, "name=\"severity\"")) return trUpdateFailed;
    c.SetRequest("bug_update.php", hmPostUrlEncoded);
    if (!c.IncrementCounterField("summary")) return trDone;
    std::string status;
    if (FindSelectedOption(response.Body, "status", status) && (status == "80" || status == "90")) return trBugClosed;
    c.AddField("bug_id", bugId);
    c.AddInputField("update_mode");
    for (const char* name :
         {"category", "severity", "reproducibility", "reporter_id", "view_state", "handler_id", "priority"})
      c.AddSelectedField(name);
    c.AddSelectedFieldIfNotEmpty("resolution");
    for (const char* name : {"description", "additional_information", "bugnote_text"}) c.AddTextareaField(name);
    c.AddField("build", report.Version);
    c.AddInputField("bug_update_token");
    c.AddSelectedField("category_id");
    c.AddFieldsFromList(report.Fields);
    ok = c.Request(response, true);
    bool answered = Answered(ok, response, "bug_update.php") || Answered(ok, response, "view.php");
    return answered && Contains(response.Body, "href=\"view.php?id=") ? trDone : trUpdateFailed;
  });
}

int THTTPBugzillaSendReport::Send(const TTrackerReport& report, THTTPResponse& response) {
  return RunTrackerFlow(connectionClass_, report, response, [&](THTTPConnectionBase& c) -> int {
    c.Progress(2, 0);
    c.SetRequest("enter_bug.cgi", hmPostUrlEncoded);
    c.AddField("product", report.Project);
    c.AddField("Bugzilla_login", report.User);
    c.AddField("Bugzilla_password", report.Password);
    bool ok = c.Request(response, false);
    if (!Answered(ok, response, "enter_bug.cgi") || !Contains(response.Body, "relogin.cgi")) return trLoginFailed;

    c.Progress(4, 0);
    c.SetRequest("buglist.cgi", hmGet);
    c.AddField("query_format", "specific");
    c.AddField("order", "relevance desc");
    c.AddField("bug_status", "__all__");
    c.AddField("product", report.Project);
    c.AddField("content", TrackerSearchText(report));
    ok = c.Request(response, false);
    if (!ok || !Contains(response.Body, "href=\"query.cgi?")) return trSearchFailed;

    const std::string listing = response.Body;
    if (!Contains(listing, "show_bug.cgi?id=")) {
      c.Progress(3, 0);
      c.SetRequest("enter_bug.cgi", hmGet);
      c.AddField("product", report.Project);
      if (!c.Request(response, false) || !Contains(response.Body, "action=\"post_bug.cgi\"")) return trProjectFailed;
      c.SetRequest("post_bug.cgi", hmPostUrlEncoded);
      for (const char* name : {"product", "version", "component", "rep_platform", "op_sys", "priority", "bug_severity",
                               "bug_status", "assigned_to", "cc", "bug_file_loc", "token"})
        AddPageField(c, name);
      c.AddField("short_desc", TrackerSummaryText(report));
      c.AddField("comment", MessageAndSteps(report));
      c.AddField("form_name", "enter_bug");
      c.AddFieldsFromList(report.Fields);
      ok = c.Request(response, false);
      if (!Answered(ok, response, "post_bug.cgi") || !Contains(response.Body, "show_bug.cgi?id="))
        return trInsertFailed;
      std::string bugId;
      FindInputValue(response.Body, "id", bugId);
      c.SetRequest("attachment.cgi", hmPostMultipart);
      c.AddField("bugid", bugId);
      c.AddField("action", "insert");
      c.AddField("description", "FILE");
      c.AddField("contenttypemethod", "list");
      c.AddField("contenttypeselection", "application/octet-stream");
      c.AddField("contenttypeentry", "");
      for (int i = 1; i <= 4; ++i) c.AddField("flag_type-" + std::to_string(i), "X");
      c.AddField("comment", "");
      c.AddFile("data", report.Attachment);
      ok = c.Request(response, true);
      return Answered(ok, response, "attachment.cgi") ? trDone : trInsertFailed;
    }

    c.Progress(5, 0);
    std::string bugId = ValueAfter(listing, "show_bug.cgi?id=");
    c.SetRequest("show_bug.cgi", hmGet);
    c.AddField("id", bugId);
    ok = c.Request(response, false);
    std::string ignored;
    bool component = FindInputValue(response.Body, "component", ignored) ||
                     FindSelect(response.Body, "component", ignored) || Contains(response.Body, "for=\"component\"");
    if (!ok || !Contains(response.Body, "name=\"form_name\"") || !component) return trUpdateFailed;
    c.SetRequest("process_bug.cgi", hmPostUrlEncoded);
    if (!c.IncrementCounterField("short_desc")) return trDone;
    if (Contains(response.Body, "value=\"reopen\"") || Contains(response.Body, "value=\"reopened\""))
      return trBugClosed;
    c.AddField("id", bugId);
    for (const char* name : {"delta_ts", "longdesclength", "token", "alias", "bug_file_loc", "product", "component",
                             "rep_platform", "op_sys", "version", "priority", "bug_severity", "target_milestone",
                             "newcc", "qa_contact", "status_whiteboard", "keywords"})
      AddPageField(c, name);
    c.AddField("flag_type-6", "X");
    for (const char* name : {"requestee_type-6", "dependson", "blocked"}) AddPageField(c, name);
    c.AddField("comment", MessageAndSteps(report));
    c.AddField("knob", "none");
    for (const char* name : {"resolution", "dup_id", "assigned_to", "form_name"}) AddPageField(c, name);
    c.AddFieldsFromList(report.Fields);
    ok = c.Request(response, true);
    return Answered(ok, response, "process_bug.cgi") && Contains(response.Body, "show_bug.cgi?id=") ? trDone
                                                                                                    : trUpdateFailed;
  });
}

namespace {

void AddFogBugzPageFields(THTTPConnectionBase& c) {
  for (const char* name :
       {"command",      "dtTimeStamp",    "ixBug",     "ixBugEventLatest", "ixPersonLastOwner",  "ixDiscussTopic",
        "ixScreenshot", "sOriginalTitle", "ixProject", "ixArea",           "ixPersonAssignedTo", "ixCategory",
        "ixFixFor",     "ixPriority",     "sDueDate",  "sDueTime",         "hrsCurrEstNew",      "hrsElapsedNew",
        "omitAtt",      "fIEFileBrowse",  "sVersion",  "sComputer",        "dblTimeStamp"})
    AddPageField(c, name);
}

std::string SubmitDocument(const std::string& page) {
  std::string token = ValueAfter(page, "sActionToken=");
  return token.empty() ? "default.asp?pre=preSubmitBug" : "default.asp?pre=preSubmitBug&sActionToken=" + token;
}

}  // namespace

int THTTPFogBugzSendReport::Send(const TTrackerReport& report, THTTPResponse& response) {
  return RunTrackerFlow(connectionClass_, report, response, [&](THTTPConnectionBase& c) -> int {
    c.Progress(2, 0);
    c.SetRequest("default.asp", hmPostUrlEncoded);
    c.AddField("pre", "preLogon");
    c.AddField("dest", "");
    c.AddField("sPerson", report.User);
    c.AddField("sPassword", report.Password);
    c.AddField("fRememberPassword", "0");
    std::string trial = FieldOfList(report.Fields, "FogBugzTrialID");
    if (!trial.empty()) c.AddField("ID", trial);
    bool ok = c.Request(response, false);
    if (!ok || !Contains(response.Body, "pre=preLogOff")) return trLoginFailed;

    c.Progress(4, 0);
    c.SetRequest("default.asp", hmGet);
    c.AddField("pre", "preSearch");
    c.AddField("pg", "pgList");
    c.AddField("pgBack", "pgSearch");
    c.AddField("bAlsoSearchClosedBugs", "1");
    c.AddField("searchFor", TrackerSearchText(report));
    ok = c.Request(response, false);
    if (!ok || !Contains(response.Body, "searchFor=")) return trSearchFailed;

    const std::string listing = response.Body;
    if (!Contains(listing, "default.asp?pg=pgeditbug") && !Contains(listing, "default.asp?pgx=EV&amp;ixBug=")) {
      c.Progress(3, 0);
      c.SetRequest("default.asp", hmGet);
      c.AddField("pg", "pgEditBug");
      if (!c.Request(response, false)) return trInsertFailed;
      c.SetRequest(SubmitDocument(response.Body), hmPostMultipart);
      AddFogBugzPageFields(c);
      c.AddField("sTitle", TrackerSummaryText(report));
      c.AddField("sEvent", MessageAndSteps(report));
      std::string bytes;
      if (!report.Attachment.empty() && ReadWholeFile(report.Attachment, bytes)) {
        c.AddField("nFileCount", "1");
        c.AddFile("File1", report.Attachment);
      } else {
        c.AddField("nFileCount", "0");
      }
      c.AddFieldsFromList(report.Fields);
      ok = c.Request(response, true);
      return ok && Contains(response.Body, "command=resolve") ? trDone : trInsertFailed;
    }

    c.Progress(5, 0);
    std::string bugId = ValueAfter(listing, "ixBug=");
    c.SetRequest("default.asp", hmGet);
    c.AddField("pg", "pgEditBug");
    c.AddField("ixBug", bugId);
    if (!c.Request(response, false) || !Contains(response.Body, "name=\"OK\"")) return trUpdateFailed;
    c.SetRequest(SubmitDocument(response.Body), hmPostMultipart);
    if (!c.IncrementCounterField("sTitle")) return trDone;
    if (Contains(response.Body, "default.asp?pg=pgEditReleaseNotes")) return trBugClosed;
    AddFogBugzPageFields(c);
    c.AddTextareaField("sEvent");
    c.AddFieldsFromList(report.Fields);
    ok = c.Request(response, true);
    return ok && Contains(response.Body, "command=resolve") ? trDone : trUpdateFailed;
  });
}

int SendBugTrackerReport(const THTTPConnectionClass& connectionClass, const THTTPSendReportClass& senderClass,
                         const TTrackerReport& report, THTTPResponse& response) {
  std::unique_ptr<THTTPSendReport> sender = senderClass();
  sender->SetConnectionClass(connectionClass);
  return sender->Send(report, response);
}

// --- Uploads ------------------------------------------------------------------------------------------
void SetUploadProxy(const std::string& host, std::uint16_t port) {
  // No host, no proxy: the uploads then open WinINet with the system's own
  // settings, as the connection class does.
  const std::string name = Trim(host);
  gUploadProxy = name.empty() ? std::string() : name + ":" + std::to_string(port != 0 ? port : 8080);
}

void SetUploadProxyLogin(const std::string& user, const std::string& password) {
  gUploadProxyUser = user;
  gUploadProxyPassword = password;
}

const std::string& UploadProxy() {
  return gUploadProxy;
}
const std::string& UploadProxyUser() {
  return gUploadProxyUser;
}
const std::string& UploadProxyPassword() {
  return gUploadProxyPassword;
}

// --- WinINet error texts ------------------------------------------------------------------------------
std::string WinInetErrorMessage(std::int32_t code) {
  static const std::pair<std::int32_t, const char*> kRows[] = {
      {12001, "No more handles could be generated at this time."},
      {12002, "The request has timed out."},
      {12003, "An extended error was returned from the server."},
      {12004, "An internal error has occurred."},
      {12005, "The URL is invalid."},
      {12006, "The URL scheme could not be recognized, or is not supported."},
      {12007, "The server name could not be resolved."},
      {12008, "The requested protocol could not be located."},
      {12009, "A request specified an invalid option value."},
      {12010, "The length of an option is incorrect for the type of option specified."},
      {12011, "The request option cannot be set, only queried."},
      {12012, "The Internet function support is being shut down or unloaded."},
      {12013, "The request to log on to an FTP server failed because the user name is incorrect."},
      {12014, "The request to log on to an FTP server failed because the password is incorrect."},
      {12015, "The request to connect to and log on to an FTP server failed."},
      {12016, "The requested operation is invalid."},
      {12017, "The operation was canceled."},
      {12018, "The type of handle supplied is incorrect for this operation."},
      {12019, "The handle supplied is not in the correct state."},
      {12020, "The request cannot be made via a proxy."},
      {12021, "A required registry value could not be located."},
      {12022, "A required registry value has an incorrect type or an invalid value."},
      {12023, "Direct network access cannot be made at this time."},
      {12024, "An asynchronous request could not be made because a zero context value was supplied."},
      {12025, "An asynchronous request could not be made because a callback function has not been set."},
      {12026, "The operation could not be completed because one or more requests are pending."},
      {12027, "The format of the request is invalid."},
      {12028, "The requested item could not be located."},
      {12029, "The attempt to connect to the server failed."},
      {12030, "The connection with the server has been terminated."},
      {12031, "The connection with the server has been reset."},
      {12032, "The request must be made again."},
      {12033, "The request to the proxy was invalid."},
      {12036, "The request failed because the handle already exists."},
      {12037, "The SSL certificate date received from the server is bad. The certificate is expired."},
      {12038, "The SSL certificate common name (host name field) is incorrect."},
      {12039, "The connection is moving from a non-SSL to an SSL connection because of a redirection."},
      {12040, "The connection is moving from an SSL to a non-SSL connection because of a redirection."},
      {12041, "The content is not entirely secure."},
      {12042, "Text is being posted to a server that is not secure."},
      {12043, "Data is being posted to a server that is not secure."},
      {12044, "The server is requesting client authentication."},
      {12045, "The certificate authority that generated the server's certificate is unknown."},
      {12052, "The data submitted to an SSL connection is being redirected to a non-SSL connection."},
      {12055, "The SSL certificate contains errors."},
      {12110, "An FTP operation is already in progress on this session."},
      {12111, "The FTP operation was not completed because the session was aborted."},
      {12112, "Passive mode is not available on the server."},
      {12130, "An error was detected while parsing data returned from the Gopher server."},
      {12131, "The request must be made for a file locator."},
      {12132, "An error was detected while receiving data from the Gopher server."},
      {12133, "The end of the data has been reached."},
      {12134, "The supplied locator is not valid."},
      {12135, "The type of the locator is not correct for this operation."},
      {12136, "The operation can only be made against a Gopher+ server."},
      {12137, "The requested attribute could not be located."},
      {12138, "The locator type is unknown."},
      {12150, "The requested header could not be located."},
      {12151, "The server did not return any headers."},
      {12152, "The server response could not be parsed."},
      {12153, "The supplied header is invalid."},
      {12154, "The request made to query the headers is invalid."},
      {12155, "The header could not be added because it already exists."},
      {12156, "The redirection failed because either the scheme changed or all attempts made to redirect failed."},
      {12160, "The HTTP request was not redirected."},
      {12161, "The HTTP cookie requires confirmation."},
      {12162, "The HTTP cookie was declined by the server."},
      {12163, "The Internet connection has been lost."},
      {12164, "The Web site or server indicated is unreachable."},
      {12165, "The designated proxy server cannot be reached."},
      {12166, "There was an error in the automatic proxy configuration script."},
      {12167, "The automatic proxy configuration script could not be downloaded."},
      {12168, "The redirection requires user confirmation."},
      {12169, "The SSL certificate is invalid."},
      {12170, "The SSL certificate was revoked."},
      {12171, "The function failed due to a security check."},
  };
  static_assert(std::size(kRows) == 76, "the table has 76 rows");
  for (const auto& [number, message] : kRows)
    if (number == code) return std::to_string(number) + " " + message;
  return {};
}
