#include "preview/FilterGraph.h"
TFilterGraph::TFilterGraph(QObject* parent) : QObject(parent) {}
bool TFilterGraph::Play() { return false; }
bool TFilterGraph::Pause() { return false; }
bool TFilterGraph::Stop() { return false; }
qint32 TFilterGraph::SourceLength() const { return 0; }
