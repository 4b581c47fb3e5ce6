#pragma once
// Registers the Tool panel and its dialogs: in the storyboard "Main" by identifier, and the
// dialogs made with a plain initialiser (the recovery message, the webcam test) in the
// controller factory.
namespace hvb {

void registerToolControllers();

}  // namespace hvb
