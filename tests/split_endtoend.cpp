#include "TestSupport.h"
class T : public QObject { Q_OBJECT };
VT_TEST_MAIN(T)
#include "split_endtoend.moc"
