// What a person does to the settings dialog, as input steps, and what each
// action must do to the values shown. The steps are worked out when they are
// delivered (random_actor.h), where the dialog is as the action found it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/random_user/seeded_random.h"
#include "standin_host/random_user/user_input.h"

// Where a mouse step lands, worked out when it is delivered: a control's
// centre, an entry of the dropped-down list (entry -1: a random visible one;
// -2: one that only came into view once the list was scrolled), the dropped
// list itself, or the close box of the dialog's caption.
enum class StepTarget { kNone, kControl, kListEntry, kDroppedList, kCloseBox };

constexpr int kAnyVisibleEntry = -1;
constexpr int kScrolledIntoView = -2;

struct ActorStep {
  InputEvent event;
  StepTarget target;
  int id;  // control id or list entry
};

// What an action must do to the values shown, judged against the view
// before it; a control that was greyed must take no input.
enum class EffectKind { kNothing, kToggle, kQuality, kRate };

struct ActionEffect {
  EffectKind kind;
  int id;     // kToggle: the check box
  int value;  // kQuality: 0 high, 1 normal; kRate: the rate finally selected
  // kRate: the selection passed the lowest rate on the way, which ticks the
  // mono box for good.
  bool forcesMono;
  // The control that must have the focus afterwards, 0 for any.
  int focusId = 0;
};

struct Action {
  std::string name;
  std::vector<ActorStep> steps;
  ActionEffect effect;
};

void AddKey(std::vector<ActorStep>* steps, WPARAM key, bool alt);
void AddClick(std::vector<ActorStep>* steps, StepTarget target, int id);

// The rate of entry `index` of the bit-rate list, -1 when there is none.
int EntryRate(HWND dialog, int index);
// One step through the bit-rate list from `index`, as an arrow key or a
// notch of the wheel makes it: one entry, stopping at the ends. Notes the
// rate reached in `effect`.
int MoveSelection(HWND dialog, int index, bool down, ActionEffect* effect);

// Tab, or Shift+Tab: the Shift key held down as a keyboard holds it, Tab
// pressed and released, Shift released. Moves the focus to the next or the
// previous tab stop; changes no value.
Action TabKey(HWND dialog, bool shift);
// A notch of the wheel with the pointer over the closed bit-rate list, which
// moves its selection one entry as an arrow key does.
Action WheelOverClosedList(SeededRandom* random, HWND dialog);
// The list opened by a click, scrolled with the wheel over it, and an entry
// that only the scrolling brought into view picked with the mouse.
Action ScrollOpenListAndPick(HWND dialog);

// The ways a person closes the dialog with the caption's close box, as the
// Cancel button would: through the window menu's Close, a click at the close
// box's place on the caption, or Alt+F4. `how` names the one drawn. Alt+F4
// is not drawn while the bit-rate list has the focus: there Wine's combo box
// keeps the key to itself and the dialog stays open, where a Windows combo
// box lets it close the window.
std::vector<ActorStep> CloseBoxSteps(SeededRandom* random, bool focusOnList, std::string* how);
