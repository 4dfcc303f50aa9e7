// The wizard form: five pages (Welcome, connection type, cable type,
// connection, finish) that lead the user to choose a link, set the phone
// finder to work on it, show the phone it found, and hand the found phones to
// the phone manager's registry values when the wizard closes.
//
// Everything here runs on the main thread. The finder's events arrive as
// synchronous calls from its search thread, which waits meanwhile.
#pragma once

#include <cstdint>
#include <string>

#include "Dialogs.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "ImgList.h"
#include "StdCtrls.h"

class TAnimatedImage;
class THelpContextMap;
class THelpRouter;
class THTMLabel;
class TMobilePhones;
class TNokiaPhone;
class TQvLabel;
class TRegistryIniFile;
class TStringList;
class TUcxLabel;
struct TFinderPass;

// Resource strings of the form.
constexpr std::uint16_t SIMEI = 65264;              // "IMEI:"
constexpr std::uint16_t SESN = 65265;               // "ESN:"
constexpr std::uint16_t SConnectionFailed = 65266;  // "Connection was not established. ..."
constexpr std::uint16_t SConfirmClose = 65286;      // "Are you sure that you want to close Pellory?"
constexpr std::uint16_t SNokia = 65287;             // "Nokia"
constexpr std::uint16_t SUnknown = 65288;           // "Unknown"
constexpr std::uint16_t SPhoneConnected = 65289;    // instruction once connected
constexpr std::uint16_t SIrDAInstruction = 65290;
constexpr std::uint16_t SBluetoothInstruction = 65291;
constexpr std::uint16_t SDkuInstruction = 65292;
constexpr std::uint16_t SCableInstruction = 65293;
constexpr std::uint16_t SFinish = 65294;  // Next button on the finish page
constexpr std::uint16_t SNext = 65295;    // Next button elsewhere

// The wizard's pages (NB).
enum TWizardPage : int {
  wpWelcome = 0,
  wpConnectionType = 1,
  wpCableType = 2,  // serial and USB cables only
  wpConnect = 3,
  wpFinish = 4,
};

// The instruction pages of the connect page (NBConnect).
enum TConnectPage : int {
  cpIrDA = 0,
  cpDku = 1,  // DKU-2 and DKU-5
  cpBluetooth = 2,
  cpSerialCable = 3,  // DAU-9P/FBUS and DLR-3
};

// How long one search may take before it counts as failed.
constexpr unsigned kSearchTimeoutMs = 90000;

// The dialogs the form shows (the failure message, the close confirmation, a
// failed save) go through this function, with the text in UTF-8; tests
// replace it. The form's own shows the text wide (MessageDlgW).
using TWizardMessageDlg = int (*)(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext);
void SetWizardMessageDlg(TWizardMessageDlg dialog);  // null restores MessageDlg

// The page pictures' library, "tlq_img.dll" in `folder` (with its trailing
// separator), mapped as data: it is never looked for along the search path,
// and none of its code runs. Null when the folder has none.
HMODULE LoadPictureLibrary(const std::string& folder);

class TWizardForm : public TForm {
  FW_CLASS(TWizardForm, TForm)
 public:
  explicit TWizardForm(TComponent* owner) : TForm(owner) {}

  // Components (names as in the form resource).
  TImage* ImageMain = nullptr;
  TQvLabel* QvLabel1 = nullptr;
  TNotebook* NB = nullptr;
  THTMLabel* HTMLabel1 = nullptr;
  THTMLabel* WarningLabel = nullptr;
  THTMLabel* HTMLabel5 = nullptr;
  TRadioGroup* rgConnectionType = nullptr;
  THTMLabel* HTMLabel2 = nullptr;
  TRadioGroup* rgCableType = nullptr;
  TLabel* LabelHelp = nullptr;
  TNotebook* NBConnect = nullptr;
  THTMLabel* lbIrDAConnect = nullptr;
  THTMLabel* lbDKUConnect = nullptr;
  THTMLabel* lbBTConnect = nullptr;
  THTMLabel* lbDLRConnect = nullptr;
  TGroupBox* gbPhoneInfo = nullptr;
  TImage* ImagePhone = nullptr;
  TLabel* lbIMEI = nullptr;
  TPanel* PanelModel = nullptr;
  TPanel* PanelSW = nullptr;
  TPanel* PanelIMEI = nullptr;
  TButton* ConnectButton = nullptr;
  TPanel* WaitPanel = nullptr;
  TAnimatedImage* AnimatedImage = nullptr;
  TUcxLabel* lblWait = nullptr;
  TLabel* LabelHelp2 = nullptr;
  THTMLabel* HTMLabel3 = nullptr;
  TButton* NexPhoneButton = nullptr;
  TButton* HelpButton = nullptr;
  TButton* BackButton = nullptr;
  TButton* NextButton = nullptr;
  TButton* CancelButton = nullptr;
  TImageList* ImageList = nullptr;
  TTimer* Timer = nullptr;
  THelpContextMap* TLQHelpContextMap = nullptr;
  THelpRouter* TLQHelpRouter = nullptr;

  // Handlers the form resource binds.
  void FormCreate(TObject* sender);
  void FormShow(TObject* sender);
  void FormCloseQuery(TObject* sender, bool& canClose);
  void FormClose(TObject* sender, TCloseAction& action);
  void FormDestroy(TObject* sender);
  void NextButtonClick(TObject* sender);
  void BackButtonClick(TObject* sender);
  void CancelButtonClick(TObject* sender);
  void HelpButtonClick(TObject* sender);
  void rgConnectionTypeClick(TObject* sender);
  void rgCableTypeClick(TObject* sender);
  void ConnectButtonClick(TObject* sender);
  void NexPhoneButtonClick(TObject* sender);
  void NBPageChanged(TObject* sender);
  void TimerTimer(TObject* sender);
  void LabelHelpClick(TObject* sender);
  void LabelHelp2Click(TObject* sender);
  void HelpLabelMouseMove(TObject* sender, TShiftState shift, int x, int y);
  void cbPortsClick(TObject* sender);
  void cbPortsExit(TObject* sender);
  void cbPortsKeyUp(TObject* sender, std::uint16_t& key, TShiftState shift);

  // The locale FormCreate switches the user interface to: the first argument
  // when it is a decimal number, else the user's default locale.
  static std::uint32_t StartLocale();

  // The page picture and the phone picture: new bitmaps the caller frees.
  TBitmap* GetMainImage();
  TBitmap* GetPhoneImage();
  // Show a copy of `image` (nothing for null); the caller keeps `image`.
  void SetMainImage(TBitmap* image);
  void SetPhoneImage(TBitmap* image);
  // Makes `phone` the form's phone object; the form owns it from now on.
  void SetMobilePhone(TNokiaPhone* phone);

  // The finder's events.
  void PhoneFound(TNokiaPhone* phone);
  void PhoneFailed(std::int32_t port, std::uint16_t code);
  void SearchPassDone(const TFinderPass& pass);

  // The hand-over of the found phones to the phone manager.
  void SaveConnections();
  void ClearSavedConnections(TRegistryIniFile* ini);

  // State, for the program's own checks.
  bool Connected() const { return connected_; }
  bool ReadingPhone() const { return readingPhone_; }
  bool SearchStarted() const { return searchStarted_; }
  std::uint8_t ConnectionKind() const { return connectionKind_; }
  TNokiaPhone* Phone() const { return phone_; }
  TMobilePhones* Phones() const { return phones_; }
  const std::string& Model() const { return model_; }
  const std::string& IMEI() const { return imei_; }
  const std::string& SWVersion() const { return swVersion_; }
  HMODULE ImageLibrary() const { return imageLibrary_; }
  TStringList* PortList() const { return portList_; }
  // The finder's mark generation of the last Connect.
  std::uint32_t SearchGeneration() const { return searchGeneration_; }

  // The COM port numbers of the port list for the serial cables (no
  // "BLUETOOTH" in the entry) or for Bluetooth; new lists the caller frees.
  TStringList* CablePortNumbers();
  TStringList* BluetoothPortNumbers();

 private:
  void UpdateControls();
  void RefreshControls();
  void ResetWizard();
  void ResetFinder();
  void DisconnectPhone();
  // The search ended without a phone (a pass that tried something, or the time-out).
  void SearchFailed();
  // The help context of the instruction page shown: 620 IrDA, 610 cables, 630 Bluetooth, else 600.
  int InstructionHelpContext() const;
  TStringList* PortNumbers(bool bluetooth);
  void LoadPictures();
  // A string of the language in use, wide; Str gives it in the code page of
  // the charset the form's font carries (the localizer gives it the chosen
  // language's), the code page the form's controls read their ANSI texts in.
  std::u16string StrW(std::uint16_t id) const;
  std::string Str(std::uint16_t id) const;

  TNokiaPhone* phone_ = nullptr;
  TMobilePhones* phones_ = nullptr;
  std::uint8_t connectionKind_ = 0;
  bool connected_ = false;
  bool readingPhone_ = false;
  int disconnecting_ = 0;  // DisconnectPhone is waiting for the phone
  bool closing_ = false;
  bool searchStarted_ = false;
  // The finder's mark generation once Connect had set its marks: only a pass
  // that began with it can end the search.
  std::uint32_t searchGeneration_ = 0;
  TStringList* portList_ = nullptr;
  std::string model_, imei_, swVersion_;
  HMODULE imageLibrary_ = nullptr;
};

// The unit's initialization: registers the form class.
void InitMain();
