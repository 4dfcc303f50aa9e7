// The wizard form read from the program's own form resource, driven through
// its handlers: navigation, the page-3 states, the search's end, the found
// phone, closing and the hand-over. The finder is a real one whose candidates
// fail at once (no links); the registry is in memory.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Animate.h"
#include "FakeFinder.h"
#include "Forms.h"
#include "HTMLabel.h"
#include "Main.h"
#include "NokiaPhone.h"
#include "PhoneFind.h"
#include "PhoneList.h"
#include "QVCtrls.h"
#include "QhrContextMap.h"
#include "QhrHelpRouter.h"
#include "Registry.h"
#include "ResStrings.h"
#include "UcxStdCtrls.h"
#include "WizardTexts.h"

// A found phone with a fixed identity that tells when it is freed.
class TFakePhone : public TNokiaPhone {
  FW_CLASS(TFakePhone, TNokiaPhone)
 public:
  explicit TFakePhone(TComponent* owner) : TNokiaPhone(owner) {}
  std::string GetModel() override {
    if (duringAsk) duringAsk();  // the ask handles messages meanwhile
    if (lineLost) throw Exception("The phone stopped answering");
    return code;
  }
  std::string GetIMEI() override {
    if (identityLost) throw std::runtime_error("the link went away");
    return imei;
  }
  std::string GetSWVersion() override { return sw; }
  int GetPort() override { return port; }
  void Destroy() override {
    if (freed) *freed = true;
    inherited::Destroy();
  }
  std::string code = "NPE-4", imei = "350612345678901", sw = "V 05.10";
  int port = 3;
  bool lineLost = false;
  bool identityLost = false;
  std::function<void()> duringAsk;
  bool* freed = nullptr;
};
FW_IMPLEMENT_CLASS(TFakePhone)

namespace {

struct TShownDialog {
  std::string text;
  TMsgDlgType type;
  int helpContext;
  // The mark generation of the finder's pass under way (the one reporting, when
  // a report shows the message), and how often the search's candidate had
  // been tried then (see g_tries).
  std::uint32_t passGeneration;
  int tries;
};
std::vector<TShownDialog> g_dialogs;
int g_answer = mrYes;
int (*g_tries)() = nullptr;

int RecordDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons, int helpContext) {
  g_dialogs.push_back(
      {text, type, helpContext, PhoneFinder ? PhoneFinder->PassGeneration() : 0, g_tries ? g_tries() : 0});
  return g_answer;
}

struct THelpSink {
  std::vector<int> contexts;
  bool OnHelp(std::uint16_t, std::intptr_t data, bool& callHelp) {
    contexts.push_back(static_cast<int>(data));
    callHelp = false;
    return true;
  }
};

// A registry whose every write fails.
class TFailingRegistry : public MemoryRegistryBackend {
 public:
  long SetValue(RegKey, std::string_view, const RegValue&) override { return 5; }
};

const std::string kCommon = std::string(CorvessaOptionsKey) + "\\" + std::string(CorvessaCommonSection);

class WizardForm : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    RegisterHTMLabelClasses();
    RegisterQvCtrlsClasses();
    RegisterAnimateClasses();
    RegisterClasses({&TUcxLabel::StaticClass()});
    InitQhrContextMap();
    InitQhrHelpRouter();
    InitMain();
    savedRegistry_ = GetRegistryBackend();
    SetRegistryBackend(&registry_);
    PutValue(RegLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Serial2", "COM3");
    TFinderSetup setup;
    setup.registry = &registry_;
    setup.phones = finderPhones_;
    setup.devices = finderDevices_;
    PhoneFinder = New<TPhoneFinder>(false, setup);
    g_dialogs.clear();
    g_answer = mrYes;
    SetWizardMessageDlg(RecordDialog);
    Application->OnHelp = THelpEvent::Bind<&THelpSink::OnHelp>(&help_);
    form_ = New<TWizardForm>(Application);
    form_->FormShow(form_);
  }
  void TearDown() override {
    FreeAndNil(form_);
    PhoneFinder->Shutdown();
    FreeAndNil(PhoneFinder);
    Application->OnHelp = nullptr;
    SetWizardMessageDlg(nullptr);
    g_tries = nullptr;
    SetRegistryBackend(savedRegistry_);
  }

  void PutValue(RegKey root, const std::string& key, const std::string& name, const std::string& text) {
    TRegistry reg(RegKeyAllAccess, &registry_);
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(key, true));
    reg.WriteString(name, text);
  }
  std::string CommonValue(const std::string& name, RegistryBackend* backend = nullptr) {
    TRegistry reg(RegKeyRead, backend ? backend : &registry_);
    reg.SetRootKey(RegCurrentUser);
    if (!reg.OpenKeyReadOnly(kCommon) || !reg.ValueExists(name)) return "<none>";
    return reg.ReadString(name);
  }

  int Page() const { return form_->NB->GetPageIndex(); }
  void Next() { form_->NextButtonClick(form_->NextButton); }
  void Back() { form_->BackButtonClick(form_->BackButton); }
  // From the Welcome page to page 3 with connection type `type` and, for the
  // data cable, cable type `cable`.
  void ToConnectPage(int type, int cable = 0) {
    Next();
    form_->rgConnectionType->SetItemIndex(type);
    ASSERT_TRUE(form_->NextButton->GetEnabled()) << "page " << Page() << " kind " << int(form_->ConnectionKind());
    Next();
    if (type == 0) {
      form_->rgCableType->SetItemIndex(cable);
      Next();
    }
    ASSERT_EQ(Page(), 3);
  }
  TFakePhone* Found(std::string imei = "350612345678901", bool* freed = nullptr, bool lineLost = false) {
    auto* phone = New<TFakePhone>(static_cast<TComponent*>(nullptr));
    phone->imei = std::move(imei);
    phone->freed = freed;
    phone->lineLost = lineLost;
    form_->PhoneFound(phone);
    return phone;
  }

  MemoryRegistryBackend registry_;
  RegistryBackend* savedRegistry_ = nullptr;
  // The finder's phone platform and devices; null for the installed ones.
  TPhonePlatform* finderPhones_ = nullptr;
  TFinderDevices* finderDevices_ = nullptr;
  THelpSink help_;
  TWizardForm* form_ = nullptr;
};

TEST_F(WizardForm, TypeAndCablePagesWaitForAChoiceAndInfraredSkipsTheCablePage) {
  EXPECT_EQ(Page(), 0);
  EXPECT_FALSE(form_->BackButton->GetEnabled());
  Next();
  EXPECT_EQ(Page(), 1);
  EXPECT_FALSE(form_->NextButton->GetEnabled()) << "no connection type chosen yet";
  form_->rgConnectionType->SetItemIndex(1);  // Infrared
  EXPECT_TRUE(form_->NextButton->GetEnabled());
  Next();
  EXPECT_EQ(Page(), 3);
  EXPECT_EQ(form_->NBConnect->GetPageIndex(), 0);
  EXPECT_EQ(form_->lbIrDAConnect->GetDisplayText(), LoadStr(SIrDAInstruction));
  Back();
  EXPECT_EQ(Page(), 1);

  form_->rgConnectionType->SetItemIndex(0);  // Data cable
  Next();
  EXPECT_EQ(Page(), 2);
  EXPECT_FALSE(form_->NextButton->GetEnabled()) << "no cable type chosen yet";
  form_->rgCableType->SetItemIndex(3);  // DKU-5
  Next();
  EXPECT_EQ(Page(), 3);
  EXPECT_EQ(form_->ConnectionKind(), ConnDku5);
  EXPECT_EQ(form_->NBConnect->GetPageIndex(), 1);
  Back();
  EXPECT_EQ(Page(), 2);
  EXPECT_EQ(form_->rgCableType->GetItemIndex(), -1) << "coming back shows no cable selected";
}

TEST_F(WizardForm, AFoundPhoneIsShownAndRecorded) {
  ToConnectPage(0, 1);  // DLR-3
  EXPECT_EQ(form_->lbIMEI->GetCaption(), "IMEI:") << "no identity yet";
  EXPECT_EQ(form_->PanelModel->GetCaption(), "Unknown");
  form_->ConnectButtonClick(form_->ConnectButton);
  EXPECT_TRUE(form_->Timer->GetEnabled());
  EXPECT_FALSE(form_->ConnectButton->GetEnabled());
  EXPECT_FALSE(form_->BackButton->GetEnabled());
  EXPECT_EQ(PhoneFinder->GetPortMethod(3), ConnDlr3Cable) << "the listed port is marked";
  EXPECT_EQ(PhoneFinder->GetPortEnabled(3), 1);

  TFakePhone* phone = Found();
  EXPECT_TRUE(form_->Connected());
  EXPECT_FALSE(form_->Timer->GetEnabled());
  EXPECT_EQ(form_->PanelModel->GetCaption(), "Nokia 6310");
  EXPECT_EQ(form_->PanelIMEI->GetCaption(), "350612345678901");
  EXPECT_EQ(form_->PanelSW->GetCaption(), "V 05.10");
  EXPECT_EQ(form_->lbDLRConnect->GetDisplayText(), LoadStr(SPhoneConnected));
  EXPECT_TRUE(form_->NextButton->GetEnabled());
  EXPECT_FALSE(form_->BackButton->GetEnabled());
  EXPECT_FALSE(form_->ConnectButton->GetEnabled());
  EXPECT_EQ(PhoneFinder->GetPortMethod(3), 0) << "the search is disarmed";
  EXPECT_EQ(form_->Phone(), phone);
  ASSERT_EQ(form_->Phones()->PhoneCount(), 1);
  const TPhone* entry = form_->Phones()->PhoneAt(0);
  EXPECT_EQ(entry->Model, "6310");
  EXPECT_EQ(entry->Kind, ConnDlr3Cable);
  EXPECT_EQ(entry->Port, 3);
}

TEST_F(WizardForm, TheIdentityLabelFollowsItsLength) {
  const struct {
    const char* imei;
    const char* label;
  } cases[] = {{"350612345678901", "IMEI:"}, {"12345678901", "ESN:"}, {"1234567890123456", "ESN:"}};
  ToConnectPage(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.imei);
    Found(c.imei);
    EXPECT_EQ(form_->lbIMEI->GetCaption(), c.label);
  }
}

TEST_F(WizardForm, APhoneWithoutIdentityIsFreedAndAReplacedPhoneToo) {
  ToConnectPage(0);
  bool emptyFreed = false;
  Found("", &emptyFreed);
  EXPECT_TRUE(emptyFreed) << "a phone that is not taken is released";
  EXPECT_FALSE(form_->Connected());
  EXPECT_EQ(form_->Phones()->PhoneCount(), 0);

  bool firstFreed = false;
  Found("350612345678901", &firstFreed);
  EXPECT_FALSE(firstFreed);
  Found("350612345678902");
  EXPECT_TRUE(firstFreed) << "the phone replaced by a later find is freed";
  EXPECT_EQ(form_->Phones()->PhoneCount(), 2);
}

TEST_F(WizardForm, OnlyAPassThatBeganAfterConnectEndsTheSearch) {
  ToConnectPage(0);
  // The ending pass tried the candidates, passed them over, or had nothing to try.
  for (int search = 0; search < 3; ++search) {
    SCOPED_TRACE(search);
    form_->ConnectButtonClick(form_->ConnectButton);
    const std::uint32_t marks = form_->SearchGeneration();
    EXPECT_EQ(marks, PhoneFinder->MarkGeneration());
    const struct {
      std::uint32_t generation;
      bool tried, passedOver;
    } goOn[] = {
        {marks - 1, true, false},   // under way at Connect: tried the earlier candidates only
        {marks - 1, false, true},   // under way at Connect: passed over earlier ones
        {marks - 1, false, false},  // under way at Connect, with nothing to try
        {marks + 1, true, false},   // a later search's
    };
    for (const auto& r : goOn) {
      TFinderPass pass;
      pass.Count = 7;
      pass.MarkGeneration = r.generation;
      pass.Tried = r.tried;
      pass.PassedOver = r.passedOver;
      form_->SearchPassDone(pass);
    }
    EXPECT_TRUE(g_dialogs.empty());
    EXPECT_TRUE(form_->Timer->GetEnabled()) << "the search goes on";
    EXPECT_TRUE(form_->WaitPanel->GetVisible());
    TFinderPass ends;
    ends.MarkGeneration = marks;
    ends.Tried = search == 0;
    ends.PassedOver = search == 1;
    form_->SearchPassDone(ends);
    ASSERT_EQ(g_dialogs.size(), 1u);
    EXPECT_EQ(g_dialogs[0].text, "Connection was not established. Press Help button for more information.");
    EXPECT_EQ(g_dialogs[0].type, mtError);
    EXPECT_EQ(g_dialogs[0].helpContext, 610);
    EXPECT_FALSE(form_->Timer->GetEnabled());
    EXPECT_FALSE(form_->WaitPanel->GetVisible());
    EXPECT_TRUE(form_->ConnectButton->GetEnabled());
    EXPECT_TRUE(form_->LabelHelp2->GetVisible());
    g_dialogs.clear();
  }
}

TEST_F(WizardForm, PortsSplitIntoCableAndBluetoothAndConnectMarksThemByKind) {
  // The port list as the serial-port map gives it: a port without a friendly
  // name counts as a cable port; a name that is not a port number is skipped.
  TStringList* ports = form_->PortList();
  ports->Clear();
  for (const char* line :
       {"1=Communications Port (COM1)", "5=", "12=Standard Serial over Bluetooth link (COM12)", "abc=x"})
    ports->Add(line);
  const auto numbers = [](TStringList* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->Count(); ++i) out.push_back(list->Strings(i));
    list->Free();
    return out;
  };
  EXPECT_EQ(numbers(form_->CablePortNumbers()), (std::vector<std::string>{"1", "5"}));
  EXPECT_EQ(numbers(form_->BluetoothPortNumbers()), (std::vector<std::string>{"12"}));

  const struct {
    const char* name;
    int type, cable;
    std::vector<std::pair<int, std::uint8_t>> marks;  // port and link kind
    bool irda, dku5, dku2;
  } cases[] = {
      {"DAU9P/FBUS", 0, 0, {{1, kMarkFbusCable}, {5, kMarkFbusCable}}, false, false, false},
      {"DLR-3", 0, 1, {{1, kMarkDlr3Cable}, {5, kMarkDlr3Cable}}, false, false, false},
      {"Bluetooth", 2, -1, {{12, kMarkBluetooth}}, false, false, false},
      {"DKU-5", 0, 3, {}, false, true, false},
      {"infrared", 1, -1, {}, true, false, false},
      {"DKU-2", 0, 2, {}, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form_->NB->SetPageIndex(wpWelcome);
    form_->FormShow(form_);
    ToConnectPage(c.type, c.cable);
    form_->ConnectButtonClick(form_->ConnectButton);
    for (int port = kFirstFinderPort; port <= kLastFinderPort; ++port) {
      std::uint8_t mark = 0;
      for (const auto& [p, m] : c.marks)
        if (p == port) mark = m;
      ASSERT_EQ(PhoneFinder->GetPortMethod(port), mark) << "COM" << port;
      // A marked port may have been tried and disabled by now; no other is enabled.
      if (!mark) {
        ASSERT_EQ(PhoneFinder->GetPortEnabled(port), 0) << "COM" << port;
      }
    }
    EXPECT_EQ(PhoneFinder->ScanIrDA.load(), c.irda);
    EXPECT_EQ(PhoneFinder->ScanDku5.load(), c.dku5);
    EXPECT_EQ(PhoneFinder->ScanDku2.load(), c.dku2);
    EXPECT_TRUE(PhoneFinder->OnPass.Assigned());
  }
}

// Errors handed to the application, by message.
std::vector<std::string> g_handled;
void RecordHandled(TApplication*, TObject*, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    g_handled.push_back(e.Message);
  } catch (...) {
    g_handled.push_back("?");
  }
}

TEST_F(WizardForm, APhoneThatCannotBeReadIsReleasedAndThePageIsReadyAgain) {
  const THandleExceptionProc saved = HandleExceptionHook;
  HandleExceptionHook = RecordHandled;
  g_handled.clear();
  ToConnectPage(0);
  form_->ConnectButtonClick(form_->ConnectButton);
  bool freed = false;
  Found("350612345678901", &freed, true);
  HandleExceptionHook = saved;
  EXPECT_EQ(g_handled, std::vector<std::string>{"The phone stopped answering"});
  EXPECT_TRUE(freed) << "the phone's port is released";
  EXPECT_EQ(form_->Phone(), nullptr);
  EXPECT_FALSE(form_->Connected());
  EXPECT_EQ(form_->Phones()->PhoneCount(), 0);
  EXPECT_FALSE(form_->WaitPanel->GetVisible());
  EXPECT_TRUE(form_->ConnectButton->GetEnabled()) << "another Connect can be tried";
  EXPECT_TRUE(form_->BackButton->GetEnabled());
  bool canClose = false;
  form_->FormCloseQuery(form_, canClose);
  EXPECT_TRUE(canClose);
}

TEST_F(WizardForm, APhoneWhoseIdentityFailsWithAnyErrorIsNotTaken) {
  ToConnectPage(0);
  form_->ConnectButtonClick(form_->ConnectButton);
  bool freed = false;
  auto* phone = New<TFakePhone>(static_cast<TComponent*>(nullptr));
  phone->freed = &freed;
  phone->identityLost = true;
  EXPECT_NO_THROW(form_->PhoneFound(phone));
  EXPECT_TRUE(freed) << "the phone's port is released";
  EXPECT_FALSE(form_->Connected());
  EXPECT_EQ(form_->Phones()->PhoneCount(), 0);
  EXPECT_TRUE(form_->Timer->GetEnabled()) << "the search goes on";
}

// The search's time-out while the found phone is being asked: the answer decides.
TEST_F(WizardForm, TheTimeOutWhileAFoundPhoneIsAskedLeavesItToTheAnswer) {
  ToConnectPage(0);
  form_->ConnectButtonClick(form_->ConnectButton);
  auto* phone = New<TFakePhone>(static_cast<TComponent*>(nullptr));
  bool ticked = false;
  phone->duringAsk = [&] {
    if (ticked) return;
    ticked = true;
    EXPECT_TRUE(form_->ReadingPhone());
    form_->TimerTimer(form_->Timer);
  };
  form_->PhoneFound(phone);
  EXPECT_TRUE(ticked);
  EXPECT_TRUE(g_dialogs.empty()) << "no failure message while the phone answers";
  EXPECT_TRUE(form_->Connected());
  EXPECT_EQ(form_->Phone(), phone);
  EXPECT_EQ(form_->Phones()->PhoneCount(), 1);
  EXPECT_FALSE(form_->ReadingPhone());
  EXPECT_FALSE(form_->Timer->GetEnabled());
}

TEST_F(WizardForm, ClosingEndsASearchUnderWay) {
  ToConnectPage(0);
  form_->ConnectButtonClick(form_->ConnectButton);
  TCloseAction action = caHide;
  form_->FormClose(form_, action);
  EXPECT_FALSE(form_->Timer->GetEnabled());
  EXPECT_EQ(PhoneFinder->GetPortMethod(3), 0) << "the search is disarmed";
  TFinderPass pass;
  pass.MarkGeneration = form_->SearchGeneration();
  pass.Tried = true;
  form_->SearchPassDone(pass);
  form_->TimerTimer(form_->Timer);
  EXPECT_TRUE(g_dialogs.empty()) << "no failure message over a closing form";
}

TEST_F(WizardForm, TheTimeOutNamesTheHelpOfTheInstructionPage) {
  const struct {
    int type;
    int helpContext;
  } cases[] = {{0, 610}, {1, 620}, {2, 630}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    form_->NB->SetPageIndex(0);
    form_->FormShow(form_);
    ToConnectPage(c.type);
    form_->ConnectButtonClick(form_->ConnectButton);
    form_->TimerTimer(form_->Timer);
    ASSERT_EQ(g_dialogs.size(), 1u);
    EXPECT_EQ(g_dialogs[0].helpContext, c.helpContext);
    form_->LabelHelp2Click(form_->LabelHelp2);
    ASSERT_FALSE(help_.contexts.empty());
    EXPECT_EQ(help_.contexts.back(), c.helpContext);
    g_dialogs.clear();
  }
}

TEST_F(WizardForm, HelpButtonByPageAndKind) {
  const struct {
    int type;
    int helpContext;
  } cases[] = {{0, 300}, {1, 400}, {2, 500}};
  form_->HelpButtonClick(nullptr);
  EXPECT_EQ(help_.contexts, std::vector<int>{100});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    form_->NB->SetPageIndex(0);
    form_->FormShow(form_);
    ToConnectPage(c.type);
    form_->HelpButtonClick(nullptr);
    EXPECT_EQ(help_.contexts.back(), c.helpContext);
  }
}

TEST_F(WizardForm, CloseIsConfirmedOnlyBeforeTheFinishPage) {
  bool canClose = true;
  g_answer = mrNo;
  form_->FormCloseQuery(form_, canClose);
  EXPECT_FALSE(canClose) << "No keeps the wizard open";
  ASSERT_EQ(g_dialogs.size(), 1u);
  EXPECT_EQ(g_dialogs[0].text, "Are you sure that you want to close Pellory?");
  EXPECT_EQ(g_dialogs[0].type, mtConfirmation);
  g_answer = mrYes;
  form_->FormCloseQuery(form_, canClose);
  EXPECT_TRUE(canClose);

  ToConnectPage(0);
  Found();
  Next();
  ASSERT_EQ(Page(), 4);
  EXPECT_FALSE(form_->Connected()) << "the finish page releases the phone";
  EXPECT_EQ(form_->NextButton->GetCaption(), "Finish");
  g_dialogs.clear();
  form_->FormCloseQuery(form_, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_TRUE(g_dialogs.empty()) << "no question once the finish page was shown";
  form_->NexPhoneButtonClick(nullptr);
  EXPECT_EQ(Page(), 1);
  form_->FormCloseQuery(form_, canClose);
  EXPECT_TRUE(g_dialogs.empty()) << "nor later in the run";
}

TEST_F(WizardForm, ClosingHandsTheFoundPhonesOverAndNothingWithoutOne) {
  PutValue(RegCurrentUser, kCommon, "COM7", "2");
  TCloseAction action = caHide;
  {
    form_->FormClose(form_, action);
    EXPECT_EQ(CommonValue("COM7"), "2") << "no phone found: the earlier values stay";
    EXPECT_EQ(CommonValue("IrDA"), "<none>");
  }
  FreeAndNil(form_);
  form_ = New<TWizardForm>(Application);
  ToConnectPage(0);
  Found();
  form_->FormClose(form_, action);
  EXPECT_EQ(CommonValue("COM3"), "1");
  EXPECT_EQ(CommonValue("COM7"), "<none>");
  EXPECT_EQ(CommonValue("IrDA"), "0");
  EXPECT_EQ(CommonValue("DKU-2"), "0");
  EXPECT_EQ(CommonValue("DKU-5"), "0");
  EXPECT_TRUE(g_dialogs.empty());
}

TEST_F(WizardForm, AFailedSaveIsReported) {
  TFailingRegistry failing;
  ToConnectPage(0);
  Found();
  SetRegistryBackend(&failing);
  TCloseAction action = caHide;
  form_->FormClose(form_, action);
  ASSERT_EQ(g_dialogs.size(), 1u);
  EXPECT_EQ(g_dialogs[0].type, mtError);
  EXPECT_NE(g_dialogs[0].text.find("could not be saved"), std::string::npos);
  EXPECT_EQ(form_->Phone(), nullptr);
  EXPECT_EQ(form_->Phones(), nullptr);
}

// The message is a resource string: the program's string table has it, and a
// table that translates it (a language library's) gives the translation.
TEST_F(WizardForm, AFailedSaveIsReportedInTheLanguageOfTheStringTable) {
  EXPECT_EQ(LoadResString(SConnectionsNotSaved), "The connection settings could not be saved for Corvessa.");
  std::u16string texts[16];
  texts[StringBlockIndex(SConnectionsNotSaved.id)] = u"Die Verbindungseinstellungen wurden nicht gespeichert.";
  MemoryResourceSource translated;
  translated.Add(FindResourceHInstance(MainInstance()), rtString, StringBlockId(SConnectionsNotSaved.id),
                 MakeStringBlock(texts, 16));
  TFailingRegistry failing;
  ToConnectPage(0);
  Found();
  SetRegistryBackend(&failing);

  struct TRestore {
    ResourceSource* previous = GetResourceSource();
    ~TRestore() { SetResourceSource(previous); }
  } restore;
  SetResourceSource(&translated);
  TCloseAction action = caHide;
  form_->FormClose(form_, action);
  ASSERT_EQ(g_dialogs.size(), 1u);
  EXPECT_EQ(g_dialogs[0].text.rfind("Die Verbindungseinstellungen wurden nicht gespeichert.\n\n", 0), 0u)
      << g_dialogs[0].text;
}

// --- A search started while the finder's pass is under way ----------------------------------------
//
// A real finder thread over fake links that answer in virtual time. The pass
// under way is held in its attempt on port 1, the previous search's candidate,
// while Connect sets up the next search; then it goes on and meets this
// search's candidate too. Its end report must not end the search; the report
// of the next pass, which began after Connect, does. A phone it finds is taken.

enum class TLink { Cable, Bluetooth, Dku5, Infrared, Dku2 };

struct TSearchCase {
  const char* name;
  TLink link;
  TPortAnswer answer;  // how this search's candidate answers
  // When the failure message shows: how often the candidate had been tried
  // (attempts on its COM port, infrared discoveries, DKU-2 device lists).
  int triesAtFailure;
};

void PrintTo(const TSearchCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr int kCablePort = 3, kBluetoothPort = 12, kDku5Port = 6, kHeldPort = 1;
constexpr std::intptr_t kIrSocket = 77, kDku2Handle = 42;

TFinderFakeEnv* g_env = nullptr;
TFakeFinderDevices* g_devices = nullptr;
TLink g_link = TLink::Cable;

int CandidateTries() {
  switch (g_link) {
    case TLink::Cable:
      return g_env->AttemptsOn(kCablePort);
    case TLink::Bluetooth:
      return g_env->AttemptsOn(kBluetoothPort);
    case TLink::Dku5:
      return g_env->AttemptsOn(kDku5Port);
    case TLink::Infrared:
      return g_devices->irCalls.load();
    case TLink::Dku2:
      return g_devices->dku2Lists.load();
  }
  return 0;
}

// Hands the finder's finds to the form, noting the generation of the pass that found.
struct TFoundSpy {
  TWizardForm* form = nullptr;
  std::vector<std::uint32_t> generations;
  void Found(TNokiaPhone* phone) {
    generations.push_back(PhoneFinder->PassGeneration());
    form->PhoneFound(phone);
  }
};

class WizardSearch : public WizardForm, public ::testing::WithParamInterface<TSearchCase> {
 protected:
  void SetUp() override {
    const TSearchCase& c = GetParam();
    g_env = &env_;
    g_devices = &devices_;
    g_link = c.link;
    finderPhones_ = &env_;
    finderDevices_ = &devices_;
    // The DKU-5 port as the USB serial driver and the serial-port map list it.
    const std::string vsp = "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\Vid_0421&Pid_0802\\5&1";
    PutValue(RegLocalMachine, vsp, "FriendlyName", "Nokia 6230 USB Modem");
    PutValue(RegLocalMachine, vsp + "\\Device Parameters", "PortName", "COM6");
    PutValue(RegLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\UsbSer0", "COM6");
    const std::string dev = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0421&Pid_0802\\1";
    PutValue(RegLocalMachine, dev, "FriendlyName", "Nokia 6230 USB Modem (COM6)");
    PutValue(RegLocalMachine, dev + "\\Device Parameters", "PortName", "COM6");
    env_.Port(kHeldPort, TPortAnswer::Held);
    switch (c.link) {
      case TLink::Cable:
        env_.Port(kCablePort, c.answer);
        break;
      case TLink::Bluetooth:
        env_.Port(kBluetoothPort, c.answer);
        break;
      case TLink::Dku5:
        env_.Port(kDku5Port, c.answer);
        break;
      case TLink::Infrared:
        if (c.answer == TPortAnswer::Absent) {
          devices_.irCode = 2;  // no device enumeration: IrDA is off until the state is cleared
        } else {
          devices_.irDevices = {{"Nokia 6310", kIrSocket}};
          env_.Socket(kIrSocket, c.answer);
        }
        break;
      case TLink::Dku2:
        if (c.answer != TPortAnswer::Absent) {
          devices_.dku2 = {{"usb#dku2", kDku2Handle, 0}};
          env_.Socket(kDku2Handle, c.answer);
        }
        break;
    }
    WizardForm::SetUp();
    g_tries = &CandidateTries;
    // The cable port and the Bluetooth port of the system's serial-port map.
    form_->PortList()->Clear();
    form_->PortList()->Add("3=Communications Port (COM3)");
    form_->PortList()->Add("12=Standard Serial over Bluetooth link (COM12)");
    spy_.form = form_;
    PhoneFinder->OnFound = TPhoneFoundEvent::Bind<&TFoundSpy::Found>(&spy_);
  }
  void TearDown() override {
    env_.Release();  // never leaves the finder's thread held, whatever failed
    WizardForm::TearDown();
    g_env = nullptr;
    g_devices = nullptr;
  }

  // Serves the finder's synchronous calls until `done` holds (false after 20 s).
  static bool Serve(const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > 20000) return false;
      CheckSynchronize(5);
    }
    return true;
  }

  void ToLinkPage(TLink link) {
    switch (link) {
      case TLink::Cable:
        return ToConnectPage(0, 0);
      case TLink::Bluetooth:
        return ToConnectPage(2);
      case TLink::Dku5:
        return ToConnectPage(0, 3);
      case TLink::Infrared:
        return ToConnectPage(1);
      case TLink::Dku2:
        return ToConnectPage(0, 2);
    }
  }

  TFinderFakeEnv env_;
  TFakeFinderDevices devices_;
  TFoundSpy spy_;
};

TEST_P(WizardSearch, APassUnderWayAtConnectDoesNotEndTheSearch) {
  const TSearchCase& c = GetParam();
  // The previous search's candidate holds the pass under way.
  PhoneFinder->SetPortMethod(kHeldPort, kMarkFbusCable);
  PhoneFinder->SetPortEnabled(kHeldPort, 1);
  ASSERT_TRUE(Serve([&] { return env_.Holding(); }));
  const std::uint32_t underWay = PhoneFinder->PassGeneration();
  ASSERT_NO_FATAL_FAILURE(ToLinkPage(c.link));
  form_->ConnectButtonClick(form_->ConnectButton);
  const std::uint32_t marks = form_->SearchGeneration();
  ASSERT_NE(marks, underWay);
  env_.Release();

  if (c.answer == TPortAnswer::Phone) {
    // The pass under way tries the new candidate and finds the phone: taken.
    ASSERT_TRUE(Serve([&] { return form_->Connected(); }));
    EXPECT_EQ(spy_.generations, std::vector<std::uint32_t>{underWay});
    EXPECT_FALSE(form_->Timer->GetEnabled());
    EXPECT_FALSE(form_->WaitPanel->GetVisible());
    EXPECT_EQ(form_->PanelIMEI->GetCaption(), "350612345678901");
    ASSERT_EQ(form_->Phones()->PhoneCount(), 1);
    EXPECT_EQ(form_->Phones()->PhoneAt(0)->Kind, form_->ConnectionKind());
    EXPECT_TRUE(g_dialogs.empty());
    return;
  }
  // Ended by a report, not by the time-out: the timer's message is never
  // handled here.
  ASSERT_TRUE(Serve([&] { return !g_dialogs.empty(); }));
  ASSERT_EQ(g_dialogs.size(), 1u);
  EXPECT_EQ(g_dialogs[0].text, "Connection was not established. Press Help button for more information.");
  EXPECT_EQ(g_dialogs[0].passGeneration, marks) << "ended by the report of a pass that began after Connect";
  EXPECT_EQ(g_dialogs[0].tries, c.triesAtFailure);
  EXPECT_FALSE(form_->Timer->GetEnabled());
  EXPECT_TRUE(form_->ConnectButton->GetEnabled());
  EXPECT_TRUE(spy_.generations.empty());
}

// Per pass, a mute candidate is tried twice on a COM port (a DKU-5 port, once
// marked by the finder, also in the COM-port step), once by discovery or
// device list; an absent one once in all, after which it is passed over
// (DKU-2 lists its devices in every pass).
INSTANTIATE_TEST_SUITE_P(
    Links, WizardSearch,
    ::testing::Values(TSearchCase{"cable, mute phone", TLink::Cable, TPortAnswer::Mute, 4},
                      TSearchCase{"cable, no such port", TLink::Cable, TPortAnswer::Absent, 1},
                      TSearchCase{"cable, phone", TLink::Cable, TPortAnswer::Phone, 0},
                      TSearchCase{"Bluetooth, mute phone", TLink::Bluetooth, TPortAnswer::Mute, 4},
                      TSearchCase{"Bluetooth, no such port", TLink::Bluetooth, TPortAnswer::Absent, 1},
                      TSearchCase{"Bluetooth, phone", TLink::Bluetooth, TPortAnswer::Phone, 0},
                      TSearchCase{"DKU-5, mute phone", TLink::Dku5, TPortAnswer::Mute, 6},
                      TSearchCase{"DKU-5, no such port", TLink::Dku5, TPortAnswer::Absent, 1},
                      TSearchCase{"DKU-5, phone", TLink::Dku5, TPortAnswer::Phone, 0},
                      TSearchCase{"infrared, mute phone", TLink::Infrared, TPortAnswer::Mute, 2},
                      TSearchCase{"infrared, no device enumeration", TLink::Infrared, TPortAnswer::Absent, 1},
                      TSearchCase{"infrared, phone", TLink::Infrared, TPortAnswer::Phone, 0},
                      TSearchCase{"DKU-2, mute phone", TLink::Dku2, TPortAnswer::Mute, 2},
                      TSearchCase{"DKU-2, no device", TLink::Dku2, TPortAnswer::Absent, 2},
                      TSearchCase{"DKU-2, phone", TLink::Dku2, TPortAnswer::Phone, 0}));

// A search with nothing to try: no COM port listed for the cable or for
// Bluetooth, no DKU-5 port known to the system. The first pass that began
// after Connect ends it, long before the time-out.
class WizardEmptySearch : public WizardSearch {};

TEST_P(WizardEmptySearch, ASearchWithNothingToTryEndsAtItsFirstPass) {
  const TSearchCase& c = GetParam();
  if (c.link == TLink::Dku5) {
    TRegistry reg(RegKeyAllAccess, &registry_);
    reg.SetRootKey(RegLocalMachine);
    for (const char* key : {"SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\Vid_0421&Pid_0802\\5&1\\Device Parameters",
                            "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0421&Pid_0802\\1\\Device Parameters"}) {
      ASSERT_TRUE(reg.OpenKey(key, false)) << key;
      reg.DeleteValue("PortName");
      reg.CloseKey();
    }
  }
  ASSERT_NO_FATAL_FAILURE(ToLinkPage(c.link));
  form_->PortList()->Clear();
  form_->ConnectButtonClick(form_->ConnectButton);
  const std::uint32_t marks = form_->SearchGeneration();
  // Ended by a report, not by the time-out: the timer's message is never
  // handled here.
  ASSERT_TRUE(Serve([&] { return !g_dialogs.empty(); }));
  ASSERT_EQ(g_dialogs.size(), 1u);
  EXPECT_EQ(g_dialogs[0].text, "Connection was not established. Press Help button for more information.");
  EXPECT_EQ(g_dialogs[0].passGeneration, marks);
  EXPECT_EQ(CandidateTries(), 0);
  EXPECT_FALSE(form_->Timer->GetEnabled());
  EXPECT_TRUE(form_->ConnectButton->GetEnabled());
  EXPECT_TRUE(spy_.generations.empty());
}

INSTANTIATE_TEST_SUITE_P(NothingListed, WizardEmptySearch,
                         ::testing::Values(TSearchCase{"cable, no port listed", TLink::Cable, TPortAnswer::Phone, 0},
                                           TSearchCase{"Bluetooth, no port listed", TLink::Bluetooth,
                                                       TPortAnswer::Phone, 0},
                                           TSearchCase{"DKU-5, no DKU-5 port", TLink::Dku5, TPortAnswer::Phone, 0}));

}  // namespace
