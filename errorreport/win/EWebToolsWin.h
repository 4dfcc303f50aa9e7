// WinINet, bound at run time: the transport of the HTTP connection, the HTTP
// and FTP uploads and the texts of WinINet's errors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EWebTools.h"

// Loads "wininet.dll" and looks up the functions the library uses; true only
// when all exist (else the library is freed again).
// The unit's start-up (the WinINet transport) and end (WinINet freed, the upload proxy forgotten).
void InitEWebTools();
void DoneEWebTools();

bool BindWinInet();
void FreeWinInet();

// The server's last response text, else the WinINet table's row for `code`.
void GetWinInetErrorText(std::int32_t code, std::string& text);

// A transport over WinINet; new connections use it once this unit is linked in.
std::unique_ptr<TWebTransport> CreateWinInetTransport();
void InstallWinInetTransport();

// The FTP connect flags (passive mode by default).
void SetFtpConnectFlags(std::uint32_t flags);

// 0 success, -1 WinINet missing, else the HTTP status (0x7FFFFFFF when not a
// number) or the WinINet error code, with `errorText`.
std::int32_t UploadFilesByHttp(const std::string& host, const std::string& path, const std::string& user,
                               const std::string& password, std::uint16_t port, bool https,
                               const std::vector<std::string>& files, const std::vector<std::string>& remoteNames,
                               const TNameValueList& fields, const TUploadProgress& progress, std::string& errorText);
std::int32_t UploadFilesByFtp(const std::string& host, const std::string& folder, const std::string& user,
                              const std::string& password, std::uint16_t port, const std::vector<std::string>& files,
                              const std::vector<std::string>& remoteNames, const TUploadProgress& progress,
                              std::string& errorText);
