#pragma once

#include "form.h"

// Tooltips for one side of the port pair, declared in the window's stored
// layout next to the components it names: the number field says where its
// number leads, and the error label says why the port last failed and what
// to do about it, to the mouse and to a screen reader alike.
//
//   Port         the TCommPort of that side
//   NumberField  the spin edit holding its COM number
//   ErrorLabel   the label that reports a failure
class TPortTooltips : public TComponent
{
public:
    using TComponent::TComponent;
    void Loaded() override;
};
