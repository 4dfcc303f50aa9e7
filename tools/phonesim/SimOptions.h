// The simulator's command line.
#pragma once

#include <string>
#include <vector>

#include "SimLink.h"
#include "SimPersona.h"

struct TSimOptions {
  TSimPersonaData Persona;  // the chosen persona with the overrides applied
  int DaTimeoutMs = 0;
  TSimLinkOptions Link;
  std::string Path;     // open this device instead of creating a pty
  int Fd = -1;          // use this inherited descriptor instead of creating a pty
  int TcpPort = -1;     // when >= 0: listen on 127.0.0.1 at this port (0: any free one) instead
  std::string Symlink;  // also make this symlink to the pty's slave side
  std::string LogFile;
  bool LogSent = false;
  bool Verbose = false;
  int ResyncMs = 300;  // a partial frame older than this is given up
  bool ExitOnClose = false;
  int CloseGraceMs = 0;
  int LifetimeMs = 0;          // when > 0: exit with status 3 after this long
  bool DieWithParent = false;  // exit when the process that started the simulator ends
  bool ListPersonas = false;
  bool Help = false;
};

// Parses argv[1..]; false with a message on bad input.
bool SimParseOptions(const std::vector<std::string>& args, TSimOptions& out, std::string& error);
std::string SimUsage();
std::string SimPersonaList();
