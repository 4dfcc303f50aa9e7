// TComponent: named objects with an owner. The owner frees the components it
// owns; a component's Name binds the owner's published field of that name;
// removal notifications let holders clear their references.
//
// Destroy order: a subclass's Destroy does its own clean-up, then calls
// inherited::Destroy(), which ends here: free notifications are sent, the
// owned components are freed (last first), and the component leaves its owner.
#pragma once

#include <cstdint>
#include <shared_mutex>
#include <string>
#include <vector>

#include "Persistent.h"

class TReader;
class TWriter;

FW_ENUM(TComponentStateItem, csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor, csUpdating,
        csFixups, csFreeNotification, csInline, csDesignInstance);
using TComponentState = Set<TComponentStateItem>;

FW_ENUM(TOperation, opInsert, opRemove);

class TComponent : public TPersistent {
  FW_CLASS(TComponent, TPersistent)
 public:
  static constexpr int FwFamily = 1;  // created from metadata with an owner
  explicit TComponent(TComponent* owner);

  void BeforeDestruction() override;
  void Destroy() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;  // raises EListError out of range
  int ComponentIndex() const;               // position in the owner's list, -1 without owner
  // An owned component by name (case-insensitive); null when none.
  TComponent* FindComponent(const std::string& name) const;

  const std::string& Name() const { return name_; }
  std::string GetName() const { return name_; }
  // Renames: the name must be an identifier (or empty) and unique among the
  // owner's components; the owner's field of the old name is cleared and the
  // one of the new name set.
  virtual void SetName(const std::string& name);
  int Tag = 0;
  // Where a non-visual component sits on its form in the designer: "Left" and
  // "Top" in form data, kept so that forms read and write them unchanged.
  std::int32_t DesignLeft = 0;
  std::int32_t DesignTop = 0;
  void DefineProperties(TFiler& filer) override;

  TComponentState ComponentState() const { return state_; }
  bool IsLoading() const { return state_.Contains(csLoading); }
  bool IsDestroying() const { return state_.Contains(csDestroying); }

  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void DestroyComponents();
  void Destroying();

  // Asks `component` to tell this one (by Notification(component, opRemove)) when it is freed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  TPersistent* GetOwner() override { return owner_; }
  std::string GetNamePath() override { return name_; }

  // Streaming hooks.
  virtual void Loaded();
  virtual void ReadState(TReader& reader);
  // Calls `proc` for each child this component writes when `root` is the component being written.
  virtual void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root);
  virtual TComponent* GetChildOwner() { return nullptr; }
  virtual TComponent* GetChildParent() { return this; }
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent*) {}
  virtual void SetChildOrder(TComponent*, int) {}
  virtual void ValidateRename(TComponent* component, const std::string& curName, const std::string& newName);

  // State changes made by the form reader and writer.
  void SetState(TComponentStateItem item, bool on);
  // Marks (or unmarks) this component and the ones it owns as being designed.
  // A component inserted into a designed owner is designed too.
  void SetDesigning(bool on);

 protected:
  virtual void Notification(TComponent* component, TOperation operation);
  void SetReference(bool enable);

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void NotifyAll(TComponent* component, TOperation operation);
  friend class TReader;

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  std::string name_;
  TComponentState state_;
};

bool IsValidIdent(const std::string& ident);

// The lock on the component name space: taken for writing while a form or
// module is constructed and read from its resources.
std::shared_mutex& GlobalNameSpace();
