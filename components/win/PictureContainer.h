// PictureContainer: the pictures of the mark-up label. THTMLPicture keeps a
// picture file's bytes and shows them through the system's OLE picture
// loader, with frame selection for animated GIF data; TPictureContainer holds
// named pictures that mark-up text refers to by name; THTMLPictureCache is a
// label's own list of pictures that mark-up text refers to by location
// ("RES://name", "FILE://path"; any other "://" address is recorded and never
// loaded).
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Collection.h"
#include "Component.h"
#include "Graphics.h"
#include "Modules.h"

class TMemoryStream;

using TDownloadErrorEvent = Method<void(TObject* sender, const std::string& error)>;
using TDownloadCompleteEvent = Method<void(TObject* sender)>;
using TDownloadCancelEvent = Method<void(TObject* sender, bool& cancel)>;
using TDownloadProgressEvent = Method<void(TObject* sender, std::uint32_t size, std::uint32_t total)>;

class THTMLPicture : public TGraphic {
  FW_CLASS(THTMLPicture, TGraphic)
 public:
  THTMLPicture();
  void Destroy() override;
  void Assign(TPersistent* source) override;

  void Draw(TCanvas& canvas, const RECT& r) override;
  bool Empty() const override { return empty_; }
  // The picture's size at 96 dots per inch (0 without a picture).
  int GetWidth() const override;
  int GetHeight() const override;
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  // The GIF logical screen when known, else the size.
  int DisplayWidth() const;
  int DisplayHeight() const;

  // Any error leaves the picture empty and is swallowed.
  void LoadFromFile(const std::string& fileName) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat() {}
  void SaveToClipboardFormat() {}
  // The module's RCDATA resource of that name, when it has one.
  void LoadResourcePicture(ModuleHandle module, const std::string& name);
  // "RES://name" (the program's resource), "FILE://path", or an address,
  // which is only recorded.
  void LoadFromLocation(const std::string& location);

  bool GetStretch() const { return stretch_; }
  void SetStretch(bool v) { stretch_ = v; }
  int GetFrame() const { return frame_; }
  void SetFrame(int v);
  // Frame starts in GIF data; -1 for other data.
  int GifFrameCount();
  int FrameLeft() const { return frameLeft_; }
  int FrameTop() const { return frameTop_; }
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }

  std::string ID() const { return id_; }  // the location it was loaded from
  std::string Address() const { return address_; }
  bool DownloadRequested() const { return downloading_; }
  bool GetBackgroundLoading() const { return background_; }
  void SetBackgroundLoading(bool v) { background_ = v; }
  // The raw bytes as loaded.
  std::string Data() const;

  TNotifyEvent OnFrameChange;
  // Never fired: no download is made.
  TDownloadErrorEvent OnDownLoadError;
  TDownloadCompleteEvent OnDownLoadComplete;
  TDownloadCancelEvent OnDownLoadCancel;
  TDownloadProgressEvent OnDownLoadProgress;

 protected:
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) override;

 private:
  void SetData(std::string bytes);
  void DropPicture();
  void RebuildPicture();
  std::string data_;
  bool empty_ = true;
  IPicture* picture_ = nullptr;
  std::string id_, address_;
  bool downloading_ = false, background_ = true, stretch_ = false;
  int frame_ = 1, frameCount_ = -1;
  int frameLeft_ = 0, frameTop_ = 0, frameWidth_ = 0, frameHeight_ = 0, screenWidth_ = 0, screenHeight_ = 0;
};

// A label's pictures by location; it owns them.
class THTMLPictureCache : public TObject {
  FW_CLASS(THTMLPictureCache, TObject)
 public:
  void Destroy() override;
  THTMLPicture* NewCachePicture();
  // The first picture recorded with exactly this location (case counts).
  THTMLPicture* CachePictureById(const std::string& id) const;
  THTMLPicture* CachePictureAt(int index) const;
  int Count() const { return static_cast<int>(pictures_.size()); }
  void FreeCachePictures();

 private:
  std::vector<THTMLPicture*> pictures_;
};

class TPictureItem : public TCollectionItem {
  FW_CLASS(TPictureItem, TCollectionItem)
 public:
  explicit TPictureItem(TCollection* collection);
  void Destroy() override;
  void Assign(TPersistent* source) override;
  THTMLPicture* GetPicture() const { return picture_; }
  void SetPicture(THTMLPicture* picture);  // copies it
  std::string GetName() const { return name_; }
  void SetName(const std::string& v) { name_ = v; }
  int GetTag() const { return tag_; }
  void SetTag(int v) { tag_ = v; }
  std::string DisplayName() const override { return name_; }

 private:
  THTMLPicture* picture_;
  std::string name_;
  int tag_ = 0;
};

class TPictureContainer;

class TPictureCollection : public TOwnedCollection {
  FW_CLASS(TPictureCollection, TOwnedCollection)
 public:
  explicit TPictureCollection(TPictureContainer* owner);
  TPictureContainer* Container() const { return container_; }
  TPictureItem* Add() { return static_cast<TPictureItem*>(TCollection::Add()); }
  TPictureItem* Items(int index) const { return static_cast<TPictureItem*>(TCollection::Items(index)); }

 private:
  TPictureContainer* container_;
};

class TPictureContainer : public TComponent {
  FW_CLASS(TPictureContainer, TComponent)
 public:
  explicit TPictureContainer(TComponent* owner);
  void Destroy() override;
  TPictureCollection* GetItems() const { return items_; }
  void SetItems(TPictureCollection* items);  // copies the items
  std::string GetVersion() const { return "1.0.0.0"; }
  void SetVersion(const std::string&) {}
  // The picture of the first item of that name (case ignored); null when none.
  virtual THTMLPicture* PictureByName(const std::string& name);

 private:
  TPictureCollection* items_;
};

void RegisterPictureContainerClasses();
