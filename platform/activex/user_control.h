#pragma once

// The control base type and the host that raises its life-cycle events in the order a page host does.

#include <optional>
#include <string>

#include "platform/activex/property_bag.h"
#include "platform/forms/control.h"

namespace platform::activex {

// An ActiveX control: a surface of child controls (declared as members, like a form's) with the life-cycle
// events its host raises. Overrides run as the control's event handlers.
class UserControl : public platform::forms::Control {
 public:
  explicit UserControl(std::string name) : Control(nullptr, std::move(name)) {}
  std::string_view Kind() const override { return "UserControl"; }
  // Its timers run from creation until Terminate.
  bool SurfaceLive() const override { return !terminated_; }

  // The object was created.
  virtual void Initialize() {}
  // The page gave no parameters at all.
  virtual void InitProperties() {}
  // The page gave parameters. A kv::Error thrown here goes to the host, which stops.
  virtual void ReadProperties(PropertyBag&) {}
  // The host sized the surface (Width and Height are already set).
  virtual void Resize() {}
  // The object is going away.
  virtual void Terminate() {}

 private:
  friend class ControlHost;
  bool terminated_ = false;
};

// Raises a control's life-cycle events as a page host does:
//   Initialize; InitProperties (no bag) or ReadProperties (bag); the first Resize; ...; Terminate.
// Site throws the kv::Error that ReadProperties raised (the first Resize is then not raised); a type mismatch
// comes back with the key and its text in the description. Terminate is raised once, by Teardown or at the
// latest by the destructor, whenever Initialize was raised.
class ControlHost {
 public:
  explicit ControlHost(UserControl& control) : control_(control) {}
  ~ControlHost();
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;

  void Site(std::optional<PropertyBag> bag, int width_twips, int height_twips);
  // A later resize by the host.
  void Resize(int width_twips, int height_twips);
  void Teardown();

  bool Sited() const { return initialized_; }
  // The bag the control was sited with, if any.
  const std::optional<PropertyBag>& Bag() const { return bag_; }

 private:
  UserControl& control_;
  std::optional<PropertyBag> bag_;
  bool initialized_ = false;
  bool terminated_ = false;
};

}  // namespace platform::activex
