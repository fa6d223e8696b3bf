#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace zidazavavide {

// One plain value per leaf command, holding its arguments as the command line
// gave them (defaults filled in). Paths and identifiers are kept as text;
// handlers validate them.

struct NodeInit {
  std::string state;
  std::optional<std::string> node_id;
  bool force = false;
  friend bool operator==(const NodeInit&, const NodeInit&) = default;
};

struct NodeStatus {
  std::string state;
  friend bool operator==(const NodeStatus&, const NodeStatus&) = default;
};

struct EnrollOffer {
  std::string offer;
  std::string state;
  friend bool operator==(const EnrollOffer&, const EnrollOffer&) = default;
};

struct EnrollApprove {
  std::string state;
  bool yes = false;
  friend bool operator==(const EnrollApprove&, const EnrollApprove&) = default;
};

struct EnrollRevoke {
  std::string state;
  friend bool operator==(const EnrollRevoke&, const EnrollRevoke&) = default;
};

struct BundleApply {
  std::string bundle;
  std::string state;
  std::string precheck;
  std::string postcheck;
  friend bool operator==(const BundleApply&, const BundleApply&) = default;
};

struct AuditShow {
  std::string state;
  friend bool operator==(const AuditShow&, const AuditShow&) = default;
};

struct AuditVerify {
  std::string state;
  friend bool operator==(const AuditVerify&, const AuditVerify&) = default;
};

struct DevCpKeygen {
  std::string control_plane_id;
  std::string out;
  friend bool operator==(const DevCpKeygen&, const DevCpKeygen&) = default;
};

struct DevCpOffer {
  std::string key;
  std::string node_hint;
  std::string out;
  friend bool operator==(const DevCpOffer&, const DevCpOffer&) = default;
};

struct DevCpBundle {
  std::string key;
  std::string offer;
  std::string node_id;
  std::uint64_t version = 0;
  std::string services;
  std::string out;
  friend bool operator==(const DevCpBundle&, const DevCpBundle&) = default;
};

// The parsed command line: exactly one leaf command.
using Command = std::variant<NodeInit, NodeStatus, EnrollOffer, EnrollApprove, EnrollRevoke, BundleApply, AuditShow,
                             AuditVerify, DevCpKeygen, DevCpOffer, DevCpBundle>;

}  // namespace zidazavavide
