// The string tree's side of transfers: besides its nodes it renders the
// texts of the transferred nodes as CF_TEXT, CF_UNICODETEXT, "CSV", both RTF
// formats and "HTML Format" (the portable renderings over its rows).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "VirtualStringTreeCells.h"
#include "VirtualTreeTransferWin.h"

class TVTStringTransferTree : public TVTTransferTree {
 public:
  explicit TVTStringTransferTree(TVirtualStringTreeCore& tree);

  // The looks of the renderings (captions, fonts, colours); the window fills them.
  std::function<TVTRenderLooks()> Looks;

  std::vector<FORMATETC> OfferedFormats() override;
  // The texts (source: the nodes marked for cut or copy for the clipboard,
  // else the selected ones); the tree's own formats through the base.
  HRESULT RenderDataForFormat(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard) override;
  // A moveable, zeroed, shareable block with the rendering and its
  // terminating zero; null when the rendering is empty or the format is none of the texts.
  HGLOBAL ClipboardBlockOfNodes(CLIPFORMAT format, TVSTTextSourceType source);

  // UTF-16 in the system's code page.
  static std::string ToAnsi(const std::u16string& text);
  // The user's list separator (LOCALE_SLIST); "," when the system gives none.
  static std::u16string ListSeparator();

 private:
  TVirtualStringTreeCore& stringTree_;
};
