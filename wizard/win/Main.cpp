#include "Main.h"

#include <iterator>
#include <memory>

#include "Animate.h"
#include "Exceptions.h"
#include "HTMLabel.h"
#include "LocOnFly.h"
#include "NokiaPhone.h"
#include "NokiaUtils.h"
#include "PhoneFind.h"
#include "PhoneList.h"
#include "QVCtrls.h"
#include "QhrContextMap.h"
#include "QhrHelpRouter.h"
#include "Registry.h"
#include "ResStrings.h"
#include "Scope.h"
#include "SerialPorts.h"
#include "Strings.h"
#include "Swallow.h"
#include "SysUtils.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "Win32Platform.h"
#include "WizardTexts.h"

// clang-format off
FW_BEGIN_CLASS(TWizardForm)
  FW_FIELD(ImageMain)
  FW_FIELD(QvLabel1)
  FW_FIELD(NB)
  FW_FIELD(HTMLabel1)
  FW_FIELD(WarningLabel)
  FW_FIELD(HTMLabel5)
  FW_FIELD(rgConnectionType)
  FW_FIELD(HTMLabel2)
  FW_FIELD(rgCableType)
  FW_FIELD(LabelHelp)
  FW_FIELD(NBConnect)
  FW_FIELD(lbIrDAConnect)
  FW_FIELD(lbDKUConnect)
  FW_FIELD(lbBTConnect)
  FW_FIELD(lbDLRConnect)
  FW_FIELD(gbPhoneInfo)
  FW_FIELD(ImagePhone)
  FW_FIELD(lbIMEI)
  FW_FIELD(PanelModel)
  FW_FIELD(PanelSW)
  FW_FIELD(PanelIMEI)
  FW_FIELD(ConnectButton)
  FW_FIELD(WaitPanel)
  FW_FIELD(AnimatedImage)
  FW_FIELD(lblWait)
  FW_FIELD(LabelHelp2)
  FW_FIELD(HTMLabel3)
  FW_FIELD(NexPhoneButton)
  FW_FIELD(HelpButton)
  FW_FIELD(BackButton)
  FW_FIELD(NextButton)
  FW_FIELD(CancelButton)
  FW_FIELD(ImageList)
  FW_FIELD(Timer)
  FW_FIELD(TLQHelpContextMap)
  FW_FIELD(TLQHelpRouter)
  FW_METHOD(FormCreate)
  FW_METHOD(FormShow)
  FW_METHOD(FormCloseQuery)
  FW_METHOD(FormClose)
  FW_METHOD(FormDestroy)
  FW_METHOD(NextButtonClick)
  FW_METHOD(BackButtonClick)
  FW_METHOD(CancelButtonClick)
  FW_METHOD(HelpButtonClick)
  FW_METHOD(rgConnectionTypeClick)
  FW_METHOD(rgCableTypeClick)
  FW_METHOD(ConnectButtonClick)
  FW_METHOD(NexPhoneButtonClick)
  FW_METHOD(NBPageChanged)
  FW_METHOD(TimerTimer)
  FW_METHOD(LabelHelpClick)
  FW_METHOD(LabelHelp2Click)
  FW_METHOD(HelpLabelMouseMove)
  FW_METHOD(cbPortsClick)
  FW_METHOD(cbPortsExit)
  FW_METHOD(cbPortsKeyUp)
FW_END_CLASS
// clang-format on

namespace {

TWizardMessageDlg g_messageDlg = nullptr;

int ShowDialog(const std::u16string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
  if (g_messageDlg) return g_messageDlg(WideToUtf8(text), type, buttons, helpContext);
  return MessageDlgW(text, type, buttons, helpContext);
}

// What Connect asks of the finder for a connection kind.
enum class TFinderSetUp {
  CablePorts,      // the cable ports of the port list, marked with the kind
  BluetoothPorts,  // the Bluetooth ports of the port list, marked with the kind
  ScanDku5,
  ScanIrDA,
  ScanDku2,
};

// Everything the form does by connection kind.
struct TConnectionKindInfo {
  std::uint8_t kind;
  // The item of the connection-type radio group, and of the cable-type one,
  // that chooses the kind; -1 for none.
  int typeItem;
  int cableItem;
  TConnectPage connectPage;
  THTMLabel* TWizardForm::*instructionLabel;  // on the connect page
  std::uint16_t instructionText;
  bool cable;  // chosen on the cable-type page
  TFinderSetUp finderSetUp;
  int helpContext;  // of the cable-type and connect pages
};

// clang-format off
constexpr TConnectionKindInfo kConnectionKinds[] = {
//  kind           type cable connect page   instruction label              text                   cable  finder set-up                 help
  {ConnFbusCable,   0,   0,   cpSerialCable, &TWizardForm::lbDLRConnect,  SCableInstruction,     true,  TFinderSetUp::CablePorts,     300},
  {ConnDlr3Cable,  -1,   1,   cpSerialCable, &TWizardForm::lbDLRConnect,  SCableInstruction,     true,  TFinderSetUp::CablePorts,     300},
  {ConnBluetooth,   2,  -1,   cpBluetooth,   &TWizardForm::lbBTConnect,   SBluetoothInstruction, false, TFinderSetUp::BluetoothPorts, 500},
  {ConnDku5,       -1,   3,   cpDku,         &TWizardForm::lbDKUConnect,  SDkuInstruction,       true,  TFinderSetUp::ScanDku5,       300},
  {ConnIrDA,        1,  -1,   cpIrDA,        &TWizardForm::lbIrDAConnect, SIrDAInstruction,      false, TFinderSetUp::ScanIrDA,       400},
  {ConnDku2,       -1,   2,   cpDku,         &TWizardForm::lbDKUConnect,  SDkuInstruction,       true,  TFinderSetUp::ScanDku2,       300},
};
// clang-format on

// The entry of a kind; null for none (ConnNone).
const TConnectionKindInfo* KindInfo(std::uint8_t kind) {
  for (const TConnectionKindInfo& k : kConnectionKinds)
    if (k.kind == kind) return &k;
  return nullptr;
}

// The kind that an item of the connection-type (or cable-type) radio group chooses; ConnNone for none.
std::uint8_t KindOfItem(int TConnectionKindInfo::*group, int item) {
  for (const TConnectionKindInfo& k : kConnectionKinds)
    if (item >= 0 && k.*group == item) return k.kind;
  return ConnNone;
}

bool IsCableKind(std::uint8_t kind) {
  const TConnectionKindInfo* info = KindInfo(kind);
  return info && info->cable;
}

// The folder of the program file, with its trailing separator.
std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ExtractFilePath(std::string(path, n < MAX_PATH ? n : 0));
}

using TOwnedBitmap = TOwned<TBitmap>;
using TOwnedList = TOwned<TStringList>;

}  // namespace

void SetWizardMessageDlg(TWizardMessageDlg dialog) {
  g_messageDlg = dialog;
}

HMODULE LoadPictureLibrary(const std::string& folder) {
  if (folder.empty()) return nullptr;
  const std::string path = folder + "tlq_img.dll";
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::u16string TWizardForm::StrW(std::uint16_t id) const {
  std::u16string text = LoadStrW(0, id);
  if (!text.empty()) return text;
  // A language library that lacks the string (one made from other data) gives
  // nothing: the program's own text is shown instead of an empty one.
  wchar_t buffer[1024];
  const int n = LoadStringW(GetModuleHandleW(nullptr), id, buffer, static_cast<int>(std::size(buffer)));
  if (n <= 0) return text;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n));
}

std::string TWizardForm::Str(std::uint16_t id) const {
  return WideToCodePage(CharsetCodePage(GetFont()->GetCharset()), StrW(id));
}

// --- Creation and the pages ----------------------------------------------------------------------

// The locale the user interface switches to: the first argument when it is a
// number, else the user's default locale.
std::uint32_t TWizardForm::StartLocale() {
  std::uint32_t locale = GetUserDefaultLCID();
  const std::string arg = NarrowToAnsi(WideCommandLineParam(1));
  int value = 0;
  if (!arg.empty() && TryStrToInt(arg, value)) locale = static_cast<std::uint32_t>(value);
  return locale;
}

void TWizardForm::FormCreate(TObject*) {
  // The form, streamed in English, is re-translated in place. A localizer that
  // was never set up (a form made outside the program's start-up) has nothing to switch to.
  try {
    TJLocalizerOnFly* localizer = LocalizerOnFly();
    if (localizer && localizer->Initialized) localizer->SwitchToLocale(StartLocale());
  } catch (...) {
    SwallowException("TWizardForm.FormCreate: switching the language");
  }
  phone_ = New<TNokiaPhone>(static_cast<TComponent*>(nullptr));
  phones_ = New<TMobilePhones>();
  LoadPictures();
  if (!PhoneFinder) return;
  PhoneFinder->OnFound = TPhoneFoundEvent::Bind<&TWizardForm::PhoneFound>(this);
  PhoneFinder->OnFailure = TPhoneFailureEvent::Bind<&TWizardForm::PhoneFailed>(this);
  PhoneFinder->OnPass = TFinderPassEvent::Bind<&TWizardForm::SearchPassDone>(this);
  imageLibrary_ = LoadPictureLibrary(ProgramFolder());
  const std::string helpPath = ProgramFolder() + "connect.chm";
  if (GetFileAttributesA(helpPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    try {
      if (TLQHelpContextMap) TLQHelpContextMap->SetFileName(helpPath);
      if (TLQHelpRouter && TLQHelpContextMap) TLQHelpRouter->Helpfile = TLQHelpContextMap->GetFileName();
    } catch (const Exception&) {
      // A help file the map cannot read leaves help without a file; the wizard still starts.
      SwallowException("TWizardForm.FormCreate: reading the help file");
    }
  }
  ResetWizard();
  NBPageChanged(NB);  // the first page's picture
}

// The image list's two phone pictures and the waiting animation's frames come
// from the program's bitmaps; magenta is transparent.
void TWizardForm::LoadPictures() {
  const HINSTANCE self = GetModuleHandleA(nullptr);
  try {
    for (const char* name : {"PHONE0", "PHONE1"}) {
      TOwnedBitmap bitmap(New<TBitmap>());
      bitmap->LoadFromResourceName(self, name);
      ImageList->AddMasked(bitmap.get(), clFuchsia);
    }
  } catch (const Exception&) {
    // Without its pictures the list stays empty and the phone picture blank.
  }
  try {
    TOwnedBitmap glyph(New<TBitmap>());
    glyph->LoadFromResourceName(self, "WAITGLYPH");
    AnimatedImage->SetGlyph(glyph.get());
  } catch (const Exception&) {
  }
}

void TWizardForm::ResetWizard() {
  model_ = Str(SUnknown);
  imei_.clear();
  swVersion_.clear();
  connectionKind_ = ConnNone;
  connected_ = false;
  searchStarted_ = false;
  closing_ = false;
  NB->SetPageIndex(wpWelcome);
  TStringList* ports = ListSerialPorts();
  FreeAndNil(portList_);
  portList_ = ports;
}

void TWizardForm::FormShow(TObject*) {
  RefreshControls();
}

void TWizardForm::RefreshControls() {
  UpdateControls();
}

void TWizardForm::UpdateControls() {
  const int page = NB->GetPageIndex();
  const TConnectionKindInfo* kind = KindInfo(connectionKind_);
  BackButton->SetEnabled(page >= wpConnectionType && page <= wpConnect && !(page == wpConnect && connected_));
  NextButton->SetEnabled(page != wpConnectionType || rgConnectionType->GetItemIndex() >= 0);
  CancelButton->SetEnabled(page != wpFinish);
  switch (page) {
    case wpConnectionType:
      LabelHelp2->Hide();
      searchStarted_ = false;
      NextButton->SetCaption(Str(SNext));
      ResetFinder();
      break;
    case wpCableType:
      NextButton->SetEnabled(rgCableType->GetItemIndex() >= 0);
      LabelHelp2->Hide();
      searchStarted_ = false;
      ResetFinder();
      break;
    case wpConnect: {
      PanelModel->SetCaption(connected_ ? Str(SNokia) + " " + model_ : model_);
      PanelSW->SetCaption(swVersion_);
      PanelIMEI->SetCaption(imei_);
      TOwnedBitmap picture(GetPhoneImage());
      SetPhoneImage(picture.get());
      NextButton->SetEnabled(connected_);
      rgCableType->SetItemIndex(-1);
      if (kind) NBConnect->SetPageIndex(kind->connectPage);
      lbIMEI->SetCaption(Str(!imei_.empty() && imei_.size() != 15 ? SESN : SIMEI));
      ConnectButton->SetEnabled(!Timer->GetEnabled() && !connected_);
      BackButton->SetEnabled(!searchStarted_ || (!connected_ && ConnectButton->GetEnabled()));
      if (!LabelHelp2->GetVisible() || connected_)
        LabelHelp2->SetVisible(searchStarted_ && !Timer->GetEnabled() && !connected_);
      break;
    }
    case wpFinish: {
      NextButton->SetCaption(Str(SFinish));
      NextButton->Tag = 1;  // the finish page was shown in this run
      // Disconnecting waits for the phone with messages handled: Finish and
      // "Next phone" wait until the phone is released.
      NextButton->SetEnabled(false);
      NexPhoneButton->SetEnabled(false);
      const auto enableAgain = [this] {
        NextButton->SetEnabled(true);
        NexPhoneButton->SetEnabled(true);
      };
      TScopeExit enableOnError([&enableAgain]() noexcept {
        try {
          enableAgain();
        } catch (...) {
          SwallowException("TWizardForm.UpdateControls: enabling the buttons while an earlier error unwinds");
        }
      });
      DisconnectPhone();
      ResetFinder();
      enableOnError.Release();
      enableAgain();  // an error of the buttons themselves reaches the caller
      break;
    }
    default:
      break;
  }
  if (kind) {
    if (THTMLabel* instruction = this->*kind->instructionLabel)
      instruction->GetHTMLText()->SetText(Str(connected_ ? SPhoneConnected : kind->instructionText));
  }
}

// --- Navigation ----------------------------------------------------------------------------------

void TWizardForm::rgConnectionTypeClick(TObject*) {
  connectionKind_ = KindOfItem(&TConnectionKindInfo::typeItem, rgConnectionType->GetItemIndex());
  UpdateControls();
}

void TWizardForm::rgCableTypeClick(TObject*) {
  connectionKind_ = KindOfItem(&TConnectionKindInfo::cableItem, rgCableType->GetItemIndex());
  UpdateControls();
}

void TWizardForm::NextButtonClick(TObject*) {
  const int page = NB->GetPageIndex();
  if (page == wpFinish) {
    Close();
    return;
  }
  if (!NextButton->GetEnabled()) return;  // a key press may reach a disabled default button
  // Infrared and Bluetooth skip the cable-type page.
  NB->SetPageIndex(page == wpConnectionType && !IsCableKind(connectionKind_) ? wpConnect : page + 1);
  UpdateControls();
}

void TWizardForm::BackButtonClick(TObject*) {
  const int page = NB->GetPageIndex();
  if (page == wpWelcome || page == wpFinish) return;
  if (page == wpConnect)
    NB->SetPageIndex(IsCableKind(connectionKind_) ? wpCableType : wpConnectionType);
  else
    NB->SetPageIndex(page - 1);
  UpdateControls();
}

void TWizardForm::NexPhoneButtonClick(TObject*) {
  NB->SetPageIndex(wpConnectionType);
  rgConnectionType->SetItemIndex(-1);
  UpdateControls();
}

void TWizardForm::CancelButtonClick(TObject*) {
  Close();
}

void TWizardForm::NBPageChanged(TObject*) {
  TOwnedBitmap picture(GetMainImage());
  SetMainImage(picture.get());
}

void TWizardForm::cbPortsClick(TObject*) {
  UpdateControls();
}
void TWizardForm::cbPortsExit(TObject*) {
  UpdateControls();
}
void TWizardForm::cbPortsKeyUp(TObject*, std::uint16_t&, TShiftState) {
  UpdateControls();
}

// --- Pictures ------------------------------------------------------------------------------------

TBitmap* TWizardForm::GetMainImage() {
  TOwnedBitmap bitmap(New<TBitmap>());
  bitmap->SetPixelFormat(pf32bit);
  if (imageLibrary_) {
    try {
      const int page = NB->GetPageIndex();
      // The connect page shares the cable-type page's picture.
      const int n = page <= wpCableType ? page + 1 : page;
      if (HBITMAP handle = LoadBitmapA(imageLibrary_, ("PAGE" + IntToStr(n)).c_str())) bitmap->SetHandle(handle);
    } catch (const Exception&) {
    }
  }
  return bitmap.release();
}

TBitmap* TWizardForm::GetPhoneImage() {
  TOwnedBitmap bitmap(New<TBitmap>());
  const int index = connected_ ? 1 : 0;
  if (index < ImageList->Count()) ImageList->GetBitmap(index, bitmap.get());
  return bitmap.release();
}

void TWizardForm::SetMainImage(TBitmap* image) {
  if (!image) return;
  ImageMain->GetPicture()->Assign(image);
  ImageMain->Refresh();
}

void TWizardForm::SetPhoneImage(TBitmap* image) {
  if (!image) return;
  ImagePhone->GetPicture()->Assign(image);
  ImagePhone->Refresh();
}

void TWizardForm::SetMobilePhone(TNokiaPhone* phone) {
  if (phone == phone_) return;
  // The old phone is freed even when its goodbye fails.
  TOwned<TNokiaPhone> old(phone_);
  phone_ = phone;
  if (old) old->Disconnect();
}

// --- The search ----------------------------------------------------------------------------------

TStringList* TWizardForm::PortNumbers(bool bluetooth) {
  TOwnedList numbers(New<TStringList>());
  if (!portList_) return numbers.release();
  for (int i = 0; i < portList_->Count(); ++i) {
    const std::string entry = ReplaceSubstring(portList_->Strings(i), "COM", "");
    const bool isBluetooth = UpperCase(entry).find("BLUETOOTH") != std::string::npos;
    if (isBluetooth != bluetooth) continue;
    int port = 0;
    if (TryStrToInt(ExtractNthField(1, entry, "="), port)) numbers->Add(IntToStr(port));
  }
  return numbers.release();
}

TStringList* TWizardForm::CablePortNumbers() {
  return PortNumbers(false);
}
TStringList* TWizardForm::BluetoothPortNumbers() {
  return PortNumbers(true);
}

void TWizardForm::ResetFinder() {
  if (!PhoneFinder) return;
  for (int port = kFirstFinderPort; port <= kLastFinderPort; ++port) {
    PhoneFinder->SetPortEnabled(port, 0);
    PhoneFinder->SetPortMethod(port, 0);
  }
  PhoneFinder->ScanIrDA = false;
  PhoneFinder->ScanDku5 = false;
  PhoneFinder->ScanDku2 = false;
  PhoneFinder->IrDAState = 0;
  PhoneFinder->OnPass = nullptr;
}

void TWizardForm::ConnectButtonClick(TObject*) {
  ResetFinder();
  if (PhoneFinder) {
    PhoneFinder->OnPass = TFinderPassEvent::Bind<&TWizardForm::SearchPassDone>(this);
    if (const TConnectionKindInfo* kind = KindInfo(connectionKind_)) {
      switch (kind->finderSetUp) {
        case TFinderSetUp::CablePorts:
        case TFinderSetUp::BluetoothPorts: {
          TOwnedList ports(kind->finderSetUp == TFinderSetUp::BluetoothPorts ? BluetoothPortNumbers()
                                                                             : CablePortNumbers());
          for (int i = 0; i < ports->Count(); ++i) {
            int port = 0;
            if (!TryStrToInt(ports->Strings(i), port)) continue;
            PhoneFinder->SetPortMethod(port, connectionKind_);
            PhoneFinder->SetPortEnabled(port, 1);
          }
          break;
        }
        case TFinderSetUp::ScanDku5:
          PhoneFinder->ScanDku5 = true;
          break;
        case TFinderSetUp::ScanIrDA:
          PhoneFinder->ScanIrDA = true;
          break;
        case TFinderSetUp::ScanDku2:
          PhoneFinder->ScanDku2 = true;
          break;
      }
    }
    // The pass under way began before these marks and may have tried none of
    // them: its report must not end this search.
    searchGeneration_ = PhoneFinder->NewMarkGeneration();
    PhoneFinder->SetActive(true);
  }
  searchStarted_ = true;
  Timer->SetInterval(kSearchTimeoutMs);
  Timer->SetEnabled(true);
  SetCursor(crHourGlass);
  WaitPanel->Show();
  UpdateControls();
}

void TWizardForm::PhoneFound(TNokiaPhone* phone) {
  if (!phone) return;
  std::string imei;
  try {
    // The form is busy while it asks the phone (the ask handles messages).
    readingPhone_ = true;
    TScopeExit reading([this]() noexcept { readingPhone_ = false; });
    imei = phone->GetIMEI();
  } catch (...) {
    // A phone that cannot tell its identity is not taken, whatever the error.
    SwallowException("TWizardForm.PhoneFound: asking the found phone its identity");
  }
  if (imei.empty() || closing_ || !phones_) {
    // Not taken: the phone's port is released with it.
    phone->Disconnect();
    phone->Free();
    return;
  }
  Timer->SetEnabled(false);
  ResetFinder();
  SetMobilePhone(phone);
  connected_ = true;
  try {
    // The form is busy while it asks the phone (the ask handles messages).
    readingPhone_ = true;
    TScopeExit reading([this]() noexcept { readingPhone_ = false; });
    model_ = ModelNameFromCode(phone->GetModel(), 0);
    if (model_.empty()) model_ = Str(SUnknown);
    imei_ = phone->GetIMEI();
    swVersion_ = phone->GetSWVersion();
  } catch (...) {
    // The search is over and the phone could not be read: it is released, the
    // page is ready for another Connect, and the error is shown.
    const std::exception_ptr error = std::current_exception();
    connected_ = false;
    model_ = Str(SUnknown);
    imei_.clear();
    swVersion_.clear();
    try {
      SetMobilePhone(nullptr);
    } catch (...) {
      SwallowException("TWizardForm.PhoneFound: releasing the phone that could not be read");
    }
    SetCursor(crDefault);
    WaitPanel->Hide();
    UpdateControls();
    if (Application) Application->HandleException(this, error);
    return;
  }
  TOwned<TPhone> entry(New<TPhone>());
  entry->Model = model_;
  entry->IMEI = imei_;
  entry->SWVersion = swVersion_;
  entry->Kind = connectionKind_;
  entry->Port = phone->GetPort();
  phones_->AddPhone(entry.release());
  SetCursor(crDefault);
  WaitPanel->Hide();
  UpdateControls();
}

void TWizardForm::PhoneFailed(std::int32_t, std::uint16_t) {}

void TWizardForm::SearchPassDone(const TFinderPass& pass) {
  if (closing_) return;
  // Only a pass that began after Connect had set its marks saw this search's
  // candidates; one that was under way may have tried others only (a find in
  // it is taken all the same). Such a pass ends the search whatever it did:
  // it tried the candidates, passed them over because earlier attempts
  // disabled them (found, absent, or infrared with no device enumeration), or
  // found nothing to try at all (no port listed for the cable, no DKU-5 port).
  // Nothing more would come of waiting.
  // Passes also run while no search is under way (before the first Connect,
  // after a find): those end nothing.
  if (!Timer->GetEnabled()) return;
  if (pass.MarkGeneration != searchGeneration_) return;
  SearchFailed();
}

void TWizardForm::TimerTimer(TObject*) {
  // While a found phone is being asked, its answer decides; a search that goes
  // on after it ends at its next pass report or the next tick.
  if (closing_ || readingPhone_) return;
  SearchFailed();
}

int TWizardForm::InstructionHelpContext() const {
  switch (NBConnect->GetPageIndex()) {
    case cpIrDA:
      return 620;
    case cpDku:
    case cpSerialCable:
      return 610;
    case cpBluetooth:
      return 630;
    default:
      return 600;
  }
}

void TWizardForm::SearchFailed() {
  Timer->SetEnabled(false);
  ResetFinder();
  WaitPanel->Hide();
  SetCursor(crDefault);
  UpdateControls();
  ShowDialog(StrW(SConnectionFailed), mtError, TMsgDlgButtons{mbOK, mbHelp}, InstructionHelpContext());
  UpdateControls();
}

void TWizardForm::DisconnectPhone() {
  try {
    if (phone_) {
      // The phone must not be freed while it says goodbye (the wait handles messages).
      ++disconnecting_;
      TScopeExit busy([this]() noexcept { --disconnecting_; });
      phone_->Disconnect();
    }
    if (PhoneFinder) PhoneFinder->IrDAState = 0;
    ResetFinder();
  } catch (...) {
    connected_ = false;
    model_ = Str(SUnknown);
    swVersion_.clear();
    imei_.clear();
    throw;
  }
  connected_ = false;
  model_ = Str(SUnknown);
  swVersion_.clear();
  imei_.clear();
}

// --- Help ----------------------------------------------------------------------------------------

void TWizardForm::HelpButtonClick(TObject*) {
  int context = 0;
  switch (NB->GetPageIndex()) {
    case wpWelcome:
    case wpConnectionType:
      context = 100;
      break;
    case wpCableType:
    case wpConnect:
      if (const TConnectionKindInfo* kind = KindInfo(connectionKind_)) context = kind->helpContext;
      break;
    default:
      break;
  }
  if (context && Application) Application->HelpContext(context);
}

void TWizardForm::LabelHelpClick(TObject*) {
  if (Application) Application->HelpContext(300);
}

void TWizardForm::LabelHelp2Click(TObject*) {
  const int context = InstructionHelpContext();
  if (context != 600 && Application) Application->HelpContext(context);
}

void TWizardForm::HelpLabelMouseMove(TObject* sender, TShiftState, int, int) {
  if (auto* label = dynamic_cast<TControl*>(sender)) label->SetCursor(crHandPoint);
}

// --- Closing -------------------------------------------------------------------------------------

void TWizardForm::FormCloseQuery(TObject*, bool& canClose) {
  if (closing_) {
    canClose = true;
    return;
  }
  canClose = !readingPhone_ && disconnecting_ == 0;
  if (canClose && NextButton->Tag != 1)
    canClose = ShowDialog(StrW(SConfirmClose), mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, 0) == mrYes;
}

void TWizardForm::FormClose(TObject*, TCloseAction&) {
  if (closing_) return;
  closing_ = true;
  // A search under way ends here: nothing it reports reaches a closing form.
  Timer->SetEnabled(false);
  ResetFinder();
  if (phone_) {
    TOwned<TNokiaPhone> phone(phone_);
    phone_ = nullptr;
    try {
      phone->Disconnect();
    } catch (...) {
      SwallowException("TWizardForm.FormClose: disconnecting the phone");
    }
  }
  if (phones_) {
    try {
      if (phones_->PhoneCount() >= 1) SaveConnections();
    } catch (const Exception& e) {
      // The finish page said the settings were saved: say that they were not.
      ShowDialog(StrW(SConnectionsNotSaved.id) + u"\n\n" + CodePageToWide(CP_ACP, e.Message), mtError,
                 TMsgDlgButtons{mbOK}, 0);
    } catch (...) {
      ShowDialog(StrW(SConnectionsNotSaved.id), mtError, TMsgDlgButtons{mbOK}, 0);
    }
    FreeAndNil(phones_);
  }
  connected_ = false;
}

void TWizardForm::FormDestroy(TObject*) {
  // The finder outlives the form: it must not call it any more.
  if (PhoneFinder) {
    ResetFinder();
    PhoneFinder->OnFound = nullptr;
    PhoneFinder->OnFailure = nullptr;
  }
  if (phone_) {
    TOwned<TNokiaPhone> phone(phone_);
    phone_ = nullptr;
    phone->Disconnect();
  }
  FreeAndNil(phones_);
  FreeAndNil(portList_);
  if (imageLibrary_) {
    FreeLibrary(imageLibrary_);
    imageLibrary_ = nullptr;
  }
}

void TWizardForm::SaveConnections() {
  ::SaveConnections(*phones_);
}

void TWizardForm::ClearSavedConnections(TRegistryIniFile* ini) {
  ::ClearSavedConnections(ini);
}

void InitMain() {
  RegisterClasses({&TWizardForm::StaticClass()});
}
