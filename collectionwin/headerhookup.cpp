#include "collectionwin/headerhookup.h"

#include "collectionwin/collectionwindow.h"
#include "headerwin/headerwindow.h"

namespace kelvo {

void attachCollectionWindow(HeaderWindow& window, LoadedLists* lists) {
    window.setCollectionWindowFactory([&window, lists](QWidget* owner) {
        auto* collection = new CollectionWindow(owner, lists);
        collection->setDirectory(window.currentDirectory());
        QObject::connect(collection, &CollectionWindow::imageOpened, &window,
                         [&window](const std::string& path) {
                             window.openPath(path);
                             window.raise();
                             window.activateWindow();
                         });
        QObject::connect(&window, &HeaderWindow::collectionCheckAsked, collection,
                         &CollectionWindow::checkPath);
        return collection;
    });
}

} // namespace kelvo
