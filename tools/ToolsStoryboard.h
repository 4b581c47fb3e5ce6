#pragma once
// Registers the Tool panel and its dialogs: in the storyboard "Main" by identifier, and the
// dialogs made in code (the recovery message, the webcam test, the label dialog) in the
// controller factory.
namespace hvb {

void registerToolControllers();

}  // namespace hvb
