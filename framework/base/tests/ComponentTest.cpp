#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Collection.h"
#include "Component.h"
#include "Lists.h"

namespace {

std::vector<std::string> g_events;

class TPart : public TComponent {
  FW_CLASS(TPart, TComponent)
 public:
  using TComponent::TComponent;
  void Destroy() override {
    g_events.push_back("destroy " + Name());
    inherited::Destroy();
  }
  TComponent* Peer = nullptr;
  void SetPeer(TComponent* p) {
    Peer = p;
    if (p) p->FreeNotification(this);
  }

 protected:
  void Notification(TComponent* c, TOperation op) override {
    inherited::Notification(c, op);
    if (op == opRemove && c == Peer) {
      g_events.push_back(Name() + " drops " + c->Name());
      Peer = nullptr;
    }
  }
};

class THolder : public TComponent {
  FW_CLASS(THolder, TComponent)
 public:
  using TComponent::TComponent;
  void Destroy() override {
    g_events.push_back("holder own clean-up, state destroying=" + std::to_string(IsDestroying()));
    inherited::Destroy();
  }
  TPart* OkButton = nullptr;
  TPart* Timer = nullptr;
};

class TItem : public TCollectionItem {
  FW_CLASS(TItem, TCollectionItem)
 public:
  using TCollectionItem::TCollectionItem;
  int Width = 0;
  void Assign(TPersistent* src) override {
    if (auto* o = dynamic_cast<TItem*>(src)) {
      Width = o->Width;
      return;
    }
    inherited::Assign(src);
  }
};

class TCounted : public TCollection {
  FW_CLASS(TCounted, TCollection)
 public:
  TCounted() : TCollection(TItem::StaticClass()) {}
  int updates = 0;

 protected:
  void Update(TCollectionItem*) override { ++updates; }
};

}  // namespace

FW_IMPLEMENT_CLASS(TPart)
FW_BEGIN_CLASS(THolder)
  FW_FIELD(OkButton)
  FW_FIELD(Timer)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TItem)
FW_IMPLEMENT_CLASS(TCounted)

TEST(Component, NameBindsTheOwnersFieldAndIsUnique) {
  TOwned<THolder> h(New<THolder>(nullptr));
  TPart* a = New<TPart>(h.get());
  a->SetName("OkButton");
  EXPECT_EQ(h->OkButton, a);
  EXPECT_EQ(h->FindComponent("okbutton"), a);
  a->SetName("Other");
  EXPECT_EQ(h->OkButton, nullptr) << "renaming clears the old field";
  TPart* b = New<TPart>(h.get());
  EXPECT_THROW(b->SetName("other"), EComponentError) << "names compare case-insensitively";
  EXPECT_THROW(b->SetName("1bad"), EComponentError);
  b->SetName("Timer");
  EXPECT_EQ(h->Timer, b);
  b->Free();
  EXPECT_EQ(h->Timer, nullptr) << "a freed component leaves the owner's field";
  EXPECT_EQ(h->ComponentCount(), 1);
  EXPECT_EQ(a->ComponentIndex(), 0);
  EXPECT_THROW(h->Components(1), EListError);
}

TEST(Component, DestroyOrderAndNotifications) {
  g_events.clear();
  THolder* h = New<THolder>(nullptr);
  TPart* first = New<TPart>(h);
  first->SetName("First");
  TPart* second = New<TPart>(h);
  second->SetName("Second");
  second->SetPeer(first);

  TPart* outsider = New<TPart>(nullptr);
  outsider->SetName("Outsider");
  outsider->SetPeer(second);  // free notification across owners

  h->Free();
  std::vector<std::string> want = {
      "holder own clean-up, state destroying=1",  // own clean-up first
      "destroy Second",                           // owned components last first
      "Outsider drops Second",                    // free notification
      "destroy First",
  };
  EXPECT_EQ(g_events, want);
  EXPECT_EQ(outsider->Peer, nullptr);
  outsider->Free();

  g_events.clear();
  TOwned<TPart> owner(New<TPart>(nullptr));
  TPart* x = New<TPart>(owner.get());
  x->SetName("X");
  TPart* y = New<TPart>(owner.get());
  y->SetName("Y");
  y->SetPeer(x);
  x->Free();  // sibling hears through the owner
  EXPECT_EQ(y->Peer, nullptr);
  EXPECT_EQ(g_events, (std::vector<std::string>{"destroy X", "Y drops X"}));
}

TEST(Component, CreatedByClassWithOwner) {
  TOwned<THolder> h(New<THolder>(nullptr));
  EXPECT_EQ(TPart::StaticClass().family, ClassInfo::Family::Component);
  TObject* made = TPart::StaticClass().create(h.get());
  EXPECT_EQ(static_cast<TComponent*>(made)->Owner(), h.get());
  EXPECT_EQ(h->ComponentCount(), 1);
}

TEST(Component, DesigningReachesOwnedComponentsAndNewOnes) {
  TOwned<THolder> h(New<THolder>(nullptr));
  TPart* before = New<TPart>(h.get());
  TPart* grandchild = New<TPart>(before);
  h->SetDesigning(true);
  for (TComponent* c :
       {static_cast<TComponent*>(h.get()), static_cast<TComponent*>(before), static_cast<TComponent*>(grandchild)})
    EXPECT_TRUE(c->ComponentState().Contains(csDesigning));
  TPart* after = New<TPart>(h.get());
  EXPECT_TRUE(after->ComponentState().Contains(csDesigning)) << "known while the new component is made";
  h->SetDesigning(false);
  EXPECT_FALSE(grandchild->ComponentState().Contains(csDesigning));
  TOwned<THolder> running(New<THolder>(nullptr));
  EXPECT_FALSE(New<TPart>(running.get())->ComponentState().Contains(csDesigning));
}

TEST(Lists, ObjectListOwnsItsObjects) {
  g_events.clear();
  TObjectList* list = New<TObjectList>();
  for (const char* n : {"a", "b", "c"}) {
    TPart* p = New<TPart>(nullptr);
    p->SetName(n);
    list->Add(p);
  }
  TOwned<TObject> kept(list->Extract(list->Items(1)));
  list->Delete(0);
  EXPECT_EQ(g_events, std::vector<std::string>{"destroy a"});
  EXPECT_THROW(list->Get(5), EListError);
  list->Free();
  EXPECT_EQ(g_events, (std::vector<std::string>{"destroy a", "destroy c"}));
}

TEST(Collection, ItemsUpdatesAndAssign) {
  TOwned<TCounted> c(New<TCounted>());
  auto* one = static_cast<TItem*>(c->Add());
  one->Width = 10;
  c->BeginUpdate();
  static_cast<TItem*>(c->Add())->Width = 20;
  c->Add();
  int before = c->updates;
  c->EndUpdate();
  EXPECT_EQ(c->updates, before + 1) << "one update at the end of a batch";
  EXPECT_EQ(c->Count(), 3);
  c->Items(2)->SetIndex(0);
  EXPECT_EQ(c->Items(1), one);
  EXPECT_EQ(c->FindItemID(one->ID()), one);

  TOwned<TCounted> copy(New<TCounted>());
  copy->Assign(c.get());
  ASSERT_EQ(copy->Count(), 3);
  EXPECT_EQ(static_cast<TItem*>(copy->Items(1))->Width, 10);
  c->Delete(1);
  EXPECT_EQ(c->Count(), 2);
  EXPECT_THROW(c->Items(2), EListError);
  TOwned<TPersistent> plain(New<TPersistent>());
  try {
    copy->Assign(plain.get());
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a TPersistent to a TCounted");
  }
}

TEST(Lists, ComponentListDropsComponentsFreedElsewhere) {
  g_events.clear();
  TComponentList* list = New<TComponentList>(false);
  TPart* a = New<TPart>(nullptr);
  a->SetName("a");
  TPart* b = New<TPart>(nullptr);
  b->SetName("b");
  list->Add(a);
  list->Add(b);
  a->Free();
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Items(0), b);
  list->Free();
  EXPECT_EQ(g_events, std::vector<std::string>{"destroy a"}) << "a list that does not own leaves b alone";
  b->Free();

  TComponentList* owning = New<TComponentList>();
  owning->Add(New<TPart>(nullptr));
  owning->Free();  // frees its component without a dangling notification

  TOwned<TThreadList> shared(New<TThreadList>());
  int x = 0;
  shared->Add(&x);
  shared->Add(&x);
  EXPECT_EQ(shared->LockList()->Count(), 1);
  shared->UnlockList();
}
