#include "install/progress.h"

WorkObserver gWorkObserver = nullptr;
void* gWorkObserverContext = nullptr;

void SetWorkObserver(WorkObserver observer, void* context) {
    gWorkObserver = observer;
    gWorkObserverContext = observer ? context : nullptr;
}
