#pragma once

// On Linux Qt gives a combo box its value as its accessible name and leaves the label to
// a relation, so a screen reader says "eth0, link up" where the field is "Interface".
// After this a combo box is named by its accessible name, else by its buddy label's
// text; its value stays its value. Safe to call more than once.
void NameComboBoxesByLabels();
