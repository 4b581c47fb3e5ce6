#pragma once
// Drives the main queue (dispatch::RunLoop::main()) from the Qt event loop: the calling thread
// becomes the main queue's thread, and every posted or due task runs from the Qt loop.
class QCoreApplication;

namespace appkit {

void installMainQueueDriver(QCoreApplication* application);

}  // namespace appkit
