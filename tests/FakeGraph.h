#pragma once
// A media graph double that writes every call into a shared log and can be told to fail any operation.

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MediaGraph.h"

namespace zorvik::test {

struct GraphWorld {
    std::vector<std::string> log;
    std::set<std::string> failing;  // operation names that answer with a failure
    int created = 0;
    int alive = 0;
    bool failCreate = false;
    std::function<void()> whileRendering;  // run by each RenderFile, on the thread that loads

    graph::MediaGraphFactory Factory();
    std::string Joined() const {
        std::string out;
        for (const auto& entry : log) {
            out += (out.empty() ? "" : " ") + entry;
        }
        return out;
    }
};

class FakeGraph final : public graph::IMediaControl, public graph::IBasicAudio, public graph::IMediaPosition {
  public:
    FakeGraph(GraphWorld& world, int id) : world_(world), id_(id) {
        ++world_.alive;
        Record("create", "");
    }
    ~FakeGraph() override {
        --world_.alive;
        Record("release", "");
    }

    graph::HResult RenderFile(const std::string& name) override {
        if (world_.whileRendering) {
            world_.whileRendering();
        }
        return Record("RenderFile", name);
    }
    graph::HResult Run() override { return Record("Run", ""); }
    graph::HResult Stop() override { return Record("Stop", ""); }
    std::string LastErrorText() const override { return "the fake graph refused it"; }
    graph::HResult put_Volume(std::int32_t v) override { return Record("put_Volume", std::to_string(v)); }
    graph::HResult put_Balance(std::int32_t b) override { return Record("put_Balance", std::to_string(b)); }
    graph::HResult put_Rate(double r) override { return Record("put_Rate", Exact(r)); }
    graph::HResult put_CurrentPosition(double p) override { return Record("put_CurrentPosition", Exact(p)); }

    static std::string Exact(double value) {
        std::ostringstream out;
        out.precision(30);
        out << value;
        return out.str();
    }

  private:
    graph::HResult Record(const std::string& op, const std::string& arg) {
        world_.log.push_back(op + "#" + std::to_string(id_) + (arg.empty() ? "" : "(" + arg + ")"));
        return world_.failing.count(op) != 0U ? graph::kFail : graph::kOk;
    }

    GraphWorld& world_;
    int id_;
};

inline graph::MediaGraphFactory GraphWorld::Factory() {
    return [this]() -> std::shared_ptr<graph::IMediaControl> {
        if (failCreate) {
            return nullptr;
        }
        return std::make_shared<FakeGraph>(*this, ++created);
    };
}

}  // namespace zorvik::test
