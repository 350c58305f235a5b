#include "pipeline/MIMEMemo.h"

#include "config/HTTPConfiguration.h"
#include "config/Mapping.h"

std::string DocumentType(const HTTPConfiguration& config, const std::string& file) {
    return TypeWithCharset(MIMELookup(file, &config.Types, config.SystemTypes.get()), config.DefaultCharset);
}

void MIMEMemo::Bind(const std::shared_ptr<const HTTPConfiguration>& record) {
    if (record_ == record) return;
    types_.clear();
    record_ = record;
}

const std::string& MIMEMemo::TypeOf(const std::string& file) {
    if (types_.size() >= kMostNames) types_.clear();
    auto found = types_.find(file);
    if (found == types_.end()) found = types_.emplace(file, DocumentType(*record_, file)).first;
    return found->second;
}
