"""Alembic's environment for the service's database: it runs on the connection the service
hands over (Store.migrate), inside the service's own transaction."""

from alembic import context

connection = context.config.attributes["connection"]
context.configure(connection=connection, target_metadata=None,
                  render_as_batch=connection.dialect.name == "sqlite")
with context.begin_transaction():
    context.run_migrations()
