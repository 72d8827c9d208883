"""API keys, orders and their status history.

Revision ID: 0001
Revises:
"""

import sqlalchemy as sa
from alembic import op

revision = "0001"
down_revision = None
branch_labels = None
depends_on = None


def upgrade():
    op.create_table(
        "api_keys",
        sa.Column("id", sa.Integer, primary_key=True),
        sa.Column("name", sa.String(200), nullable=False, unique=True),
        sa.Column("key_id", sa.String(32), nullable=False, unique=True),
        sa.Column("key_hash", sa.String(64), nullable=False),
        sa.Column("operator", sa.Boolean, nullable=False),
        sa.Column("created_ms", sa.BigInteger, nullable=False),
        sa.Column("revoked_ms", sa.BigInteger, nullable=True),
    )
    op.create_table(
        "orders",
        sa.Column("id", sa.String(36), primary_key=True),
        sa.Column("owner_id", sa.Integer, sa.ForeignKey("api_keys.id"), nullable=False),
        sa.Column("product_id", sa.String(100), nullable=False),
        sa.Column("created_ms", sa.BigInteger, nullable=False),
        sa.Column("start_ms", sa.BigInteger, nullable=False),
        sa.Column("end_ms", sa.BigInteger, nullable=False),
        sa.Column("geometry", sa.Text, nullable=False),
        sa.Column("filter", sa.Text, nullable=True),
        sa.Column("order_parameters", sa.Text, nullable=False),
        sa.Column("priority", sa.Float, nullable=False),
        sa.Column("status_code", sa.String(32), nullable=False),
        sa.Column("status_ms", sa.BigInteger, nullable=False),
        sa.Column("reason_code", sa.String(64), nullable=True),
        sa.Column("reason_text", sa.Text, nullable=True),
        sa.Column("status_links", sa.Text, nullable=False),
    )
    op.create_index("ix_orders_owner", "orders", ["owner_id", "created_ms", "id"])
    op.create_index("ix_orders_created", "orders", ["created_ms", "id"])
    op.create_index("ix_orders_status", "orders", ["status_code"])
    op.create_table(
        "order_statuses",
        sa.Column("id", sa.Integer, primary_key=True),
        sa.Column("order_id", sa.String(36), sa.ForeignKey("orders.id", ondelete="CASCADE"),
                  nullable=False),
        sa.Column("timestamp_ms", sa.BigInteger, nullable=False),
        sa.Column("status_code", sa.String(32), nullable=False),
        sa.Column("reason_code", sa.String(64), nullable=True),
        sa.Column("reason_text", sa.Text, nullable=True),
        sa.Column("links", sa.Text, nullable=False),
    )
    op.create_index("ix_order_statuses_order", "order_statuses", ["order_id", "id"])


def downgrade():
    op.drop_table("order_statuses")
    op.drop_table("orders")
    op.drop_table("api_keys")
