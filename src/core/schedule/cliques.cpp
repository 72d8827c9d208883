// Clique cover of a part's conflict graph. Each conflict written as its own row x(a) + x(b)
// <= 1 leaves the linear relaxation free to take every node at one half; a maximal clique
// written as one row (sum over the clique <= 1) closes that, which is what tightens the bound.
#include <algorithm>
#include <iterator>

#include "core/schedule/schedule_internal.hpp"

namespace orvus::detail {

std::vector<std::vector<std::uint32_t>> clique_cover(const Part& part) {
  const auto n = part.nodes();
  // covered[a][i]: the edge from a to its i-th neighbour is in a clique already.
  std::vector<std::vector<char>> covered(n);
  for (std::size_t a = 0; a < n; ++a) covered[a].assign(part.adj[a].size(), 0);
  auto slot = [&](std::uint32_t a, std::uint32_t b) -> char& {
    const auto& adj = part.adj[a];
    return covered[a][std::lower_bound(adj.begin(), adj.end(), b) - adj.begin()];
  };
  std::vector<std::vector<std::uint32_t>> cliques;
  std::vector<std::uint32_t> cands, next;
  for (std::uint32_t u = 0; u < n; ++u) {
    for (std::size_t i = 0; i < part.adj[u].size(); ++i) {
      const auto w = part.adj[u][i];
      if (w < u || covered[u][i]) continue;
      std::vector<std::uint32_t> clique{u, w};
      cands.clear();
      std::set_intersection(part.adj[u].begin(), part.adj[u].end(), part.adj[w].begin(),
                            part.adj[w].end(), std::back_inserter(cands));
      while (!cands.empty()) {
        // The candidate that covers most new edges, then the one with most neighbours, then
        // the first: the clique grows until no node meets all of it.
        std::size_t best = 0;
        int best_new = -1;
        for (std::size_t j = 0; j < cands.size(); ++j) {
          const auto z = cands[j];
          int fresh = 0;
          for (auto m : clique) fresh += slot(z, m) == 0;
          if (fresh > best_new ||
              (fresh == best_new && part.adj[z].size() > part.adj[cands[best]].size())) {
            best = j;
            best_new = fresh;
          }
        }
        const auto z = cands[best];
        clique.push_back(z);
        next.clear();
        std::set_intersection(cands.begin(), cands.end(), part.adj[z].begin(), part.adj[z].end(),
                              std::back_inserter(next));
        cands.swap(next);
      }
      for (std::size_t a = 0; a < clique.size(); ++a) {
        for (std::size_t b = a + 1; b < clique.size(); ++b) {
          slot(clique[a], clique[b]) = 1;
          slot(clique[b], clique[a]) = 1;
        }
      }
      std::sort(clique.begin(), clique.end());
      cliques.push_back(std::move(clique));
    }
  }
  return cliques;
}

}  // namespace orvus::detail
