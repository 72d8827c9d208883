"""Plans and their acquisitions, and the planner's generation counter.

Revision ID: 0002
Revises: 0001
"""

import sqlalchemy as sa
from alembic import op

revision = "0002"
down_revision = "0001"
branch_labels = None
depends_on = None


def upgrade():
    op.create_table(
        "plans",
        sa.Column("id", sa.Integer, primary_key=True),
        sa.Column("generation", sa.Integer, nullable=False, unique=True),
        sa.Column("created_ms", sa.BigInteger, nullable=False),
        sa.Column("start_ms", sa.BigInteger, nullable=False),
        sa.Column("end_ms", sa.BigInteger, nullable=False),
        sa.Column("trigger", sa.String(32), nullable=False),
        sa.Column("summary", sa.Text, nullable=False),
    )
    op.create_table(
        "acquisitions",
        sa.Column("id", sa.Integer, primary_key=True),
        sa.Column("plan_id", sa.Integer, sa.ForeignKey("plans.id", ondelete="CASCADE"),
                  nullable=False),
        sa.Column("order_id", sa.String(36), sa.ForeignKey("orders.id", ondelete="CASCADE"),
                  nullable=False),
        sa.Column("satellite", sa.String(200), nullable=False),
        sa.Column("norad_id", sa.Integer, nullable=False),
        sa.Column("start_ms", sa.BigInteger, nullable=False),
        sa.Column("end_ms", sa.BigInteger, nullable=False),
        sa.Column("roll_deg", sa.Float, nullable=False),
        sa.Column("station", sa.String(200), nullable=True),
        sa.Column("downlink_start_ms", sa.BigInteger, nullable=True),
        sa.Column("sun_elevation_deg", sa.Float, nullable=False),
    )
    op.create_index("ix_acquisitions_plan", "acquisitions", ["plan_id"])
    op.create_index("ix_acquisitions_order", "acquisitions", ["order_id"])
    state = op.create_table(
        "planner_state",
        sa.Column("id", sa.Integer, primary_key=True),
        sa.Column("generation", sa.Integer, nullable=False),
        sa.Column("plan_id", sa.Integer, sa.ForeignKey("plans.id"), nullable=True),
    )
    op.bulk_insert(state, [{"id": 1, "generation": 0, "plan_id": None}])


def downgrade():
    op.drop_table("planner_state")
    op.drop_table("acquisitions")
    op.drop_table("plans")
