// Actions: a command (its execute and update handlers) that components share
// through action links. A client (a control, a menu item) holds one link to
// its action; the action keeps the list of its links and tells each of them
// when one of its properties changes, so the clients follow the action.
#pragma once

#include <vector>

#include "Component.h"
#include "Method.h"

class TBasicAction;

// The connection between one client and its action. A link class is
// default-constructible (its class information creates it); the client is
// handed over with AssignClient right after.
class TBasicActionLink : public TObject {
  FW_CLASS(TBasicActionLink, TObject)
 public:
  TBasicActionLink() = default;
  void Destroy() override;

  virtual void AssignClient(TObject* client) { (void)client; }
  TBasicAction* Action() const { return action_; }
  // Leaves the old action's list and joins the new one's (null: none).
  virtual void SetAction(TBasicAction* value);
  // Runs the action for `target` (the client component); false without an action.
  virtual bool Execute(TComponent* target = nullptr);
  virtual bool Update();
  // The action's execute handler is the client's own click handler.
  virtual bool IsOnExecuteLinked() { return true; }
  virtual void SetOnExecute(const TNotifyEvent& value) { (void)value; }
  // Fires on every change of the action (the client's ActionChange listens).
  TNotifyEvent OnChange;

 protected:
  friend class TBasicAction;
  virtual void Change();
  TBasicAction* action_ = nullptr;
};

class TBasicAction : public TComponent {
  FW_CLASS(TBasicAction, TComponent)
 public:
  explicit TBasicAction(TComponent* owner) : TComponent(owner) {}
  void Destroy() override;

  // Whether the action can run for, update and run on `target`.
  virtual bool HandlesTarget(TObject* target) {
    (void)target;
    return false;
  }
  virtual void UpdateTarget(TObject* target) { (void)target; }
  virtual void ExecuteTarget(TObject* target) { (void)target; }
  // Runs OnExecute; true when it was assigned.
  virtual bool Execute();
  // Runs OnUpdate; true when it was assigned.
  virtual bool Update();

  // The component whose link ran the action last (null outside an execution).
  TComponent* ActionComponent() const { return actionComponent_; }
  void SetActionComponent(TComponent* value);

  TNotifyEvent GetOnExecute() const { return onExecute_; }
  virtual void SetOnExecute(const TNotifyEvent& value);
  TNotifyEvent OnUpdate;

  // The links of the clients, in the order they joined.
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  TBasicActionLink* Clients(int index) const { return clients_.at(static_cast<std::size_t>(index)); }
  void RegisterChanges(TBasicActionLink* link);
  void UnRegisterChanges(TBasicActionLink* link);

 protected:
  // Tells every link, then fires OnChange.
  virtual void Change();
  void Notification(TComponent* component, TOperation operation) override;
  TNotifyEvent onExecute_;
  TNotifyEvent OnChange;
  std::vector<TBasicActionLink*> clients_;

 private:
  friend class TBasicActionLink;
  TComponent* actionComponent_ = nullptr;
};

// The class of a link (a TBasicActionLink descendant): what a client asks for
// when it makes its link.
using TBasicActionLinkClass = const ClassInfo*;
// A new link of `cls` for `client`.
TBasicActionLink* CreateActionLink(TBasicActionLinkClass cls, TObject* client);
