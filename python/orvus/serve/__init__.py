"""orvus.serve: a tasking service (STAPI v0.1.0) over the ORVUS planner.

    orvus-serve CONFIG.toml [--host H] [--port P] [--now T]

Modules: config (the TOML file), inputs (checked request values), cql2 (filters), documents
(the JSON answers), planning (every call into the planner), store (the database), life (the
order's statuses), app (the HTTP service), cli (the command)."""
