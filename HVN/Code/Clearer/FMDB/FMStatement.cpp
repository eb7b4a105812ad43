#include "HVN/Code/Clearer/FMDB/FMStatement.h"

#include "Platform/Log.h"

FMStatement::FMStatement(sqlite3_stmt* statement, std::string query)
    : statement_(statement), query_(std::move(query)) {}

FMStatement::~FMStatement() {
    close();
}

void FMStatement::close() {
    if (statement_) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
    inUse = false;
}

void FMStatement::reset() {
    if (statement_) sqlite3_reset(statement_);
}

std::string FMStatement::description() const {
    return hvn::format("<FMStatement: %p> %lld hit(s) for query %s", static_cast<const void*>(this),
                       static_cast<long long>(useCount), query_.c_str());
}
